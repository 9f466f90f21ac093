#pragma once
/* The maker's device library: trackers reached as USB serial ports.
 *
 * Devices are the entries of $ZIZUZ_DEVICE_DIR (default /dev/serial/by-id) named
 * usb-Veltorium_<model>_<serial digits>-if<NN> that lead to a tty. A device is opened by its
 * ListCode (the interface number NN) and its serial number as decimal text.
 *
 * Every function returns a status, ZIZUZ_OK (0) on success. Handles are small numbers of the
 * library's own, 0 standing for none. Calls on different handles may run on different threads
 * at once. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZIZUZ_BUILDING)
#define ZIZUZ_API __attribute__((visibility("default")))
#else
#define ZIZUZ_API
#endif

enum {
  ZIZUZ_OK = 0,
  ZIZUZ_INVALID_HANDLE = 1,
  ZIZUZ_DEVICE_NOT_FOUND = 2,
  ZIZUZ_DEVICE_NOT_OPENED = 3,
  ZIZUZ_IO_ERROR = 4, /* also: the device has gone */
  ZIZUZ_INSUFFICIENT_RESOURCES = 5,
  ZIZUZ_INVALID_PARAMETER = 6,
  ZIZUZ_TIMEOUT = 7
};

#define ZIZUZ_LIST_ALL 0xFFFFu /* filter of QL_GetListDevices: every interface */
#define ZIZUZ_RECORD_SIZE 25u  /* one list record */
#define ZIZUZ_SERIAL_SIZE 21u  /* serial field of a record, NUL included */
#define ZIZUZ_DEFAULT_READ_MS 500u
#define ZIZUZ_DEFAULT_WRITE_MS 200u

/* Lists the devices. filter: ZIZUZ_LIST_ALL, or one interface number. With a null buffer,
 * *count receives the number of devices. With a buffer of *count records, at most *count
 * records are filled and *count receives how many. A record, 25 packed bytes:
 *   0-1  position of the record in this listing (16-bit, host order)
 *   2-3  ListCode: the entry's interface number NN (16-bit, host order)
 *   4-24 serial number, decimal digits as in the entry name, NUL-terminated */
ZIZUZ_API uint32_t QL_GetListDevices(uint32_t filter, void* buffer, uint32_t* count);

/* Opens the device with this interface number (ZIZUZ_LIST_ALL: any) and serial number
 * (compared as a number, so "42" finds "0042"). */
ZIZUZ_API uint32_t QL_OpenDevice(uint16_t list_code, const char* serial, uint32_t* handle);

/* Closes *handle and sets it to 0. */
ZIZUZ_API uint32_t QL_CloseDevice(uint32_t* handle);

/* Waits at most the read time-out for the first byte, then gathers bytes until none has come
 * for 2 ms or the capacity is full. *count receives the number of bytes read. */
ZIZUZ_API uint32_t QL_ReadNotTimeOut(uint32_t handle, void* buffer, uint32_t capacity,
                                     uint32_t* count);

/* Writes within the write time-out; *written receives the count sent (less on a time-out). */
ZIZUZ_API uint32_t QL_Write(uint32_t handle, const void* data, uint32_t length, uint32_t* written);

/* Drops whatever waits in both directions. */
ZIZUZ_API uint32_t QL_Purge(uint32_t handle);

/* Read and write time-outs in milliseconds (defaults 500 and 200). */
ZIZUZ_API uint32_t QL_SetTimeouts(uint32_t handle, uint32_t read_ms, uint32_t write_ms);

/* Why the last QL_OpenDevice on the calling thread found its device but could not open it:
 * *error receives the errno of the tty's open (EACCES: the user may not use the tty), 0 when
 * that call opened its device, found none, or no call was made on this thread. path, when not
 * null, receives the tty's path (links resolved), cut to path_size bytes with its NUL; an empty
 * text when *error is 0. Added after the seven functions above: a caller that wants it looks it
 * up and does without it when it is missing. */
ZIZUZ_API uint32_t QL_GetOpenError(int32_t* error, char* path, uint32_t path_size);

#ifdef __cplusplus
}
#endif
