#pragma once
// The two USB driver libraries, loaded at run time by file name: the chip vendor's D2XX
// library and the maker's device library. Prototypes follow the vendor's published ones:
// status and counts are 32-bit, FT_HANDLE is pointer-sized.
//
// A loaded library stays loaded until the process ends; the tables are read-only after load
// and may be used from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class QLibrary;

namespace updater {

using FT_STATUS = uint32_t;
using FT_HANDLE = void*;
using DWORD = uint32_t;
using ULONG = uint32_t;
using USHORT = uint16_t;
using UCHAR = uint8_t;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr ULONG FT_FLAGS_OPENED = 1;  // node flag: someone (another driver) has it open

// The vendor's 64-bit device-list node: serial at offset 16, description at 32, 104 bytes.
struct FT_DEVICE_LIST_INFO_NODE {
  ULONG Flags;
  ULONG Type;
  ULONG ID;
  DWORD LocId;
  char SerialNumber[16];
  char Description[64];
  FT_HANDLE ftHandle;
};
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, SerialNumber) == 16);
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, Description) == 32);
static_assert(sizeof(void*) != 8 || sizeof(FT_DEVICE_LIST_INFO_NODE) == 104);

// One record of the maker's device list, as the program reads it: 25 packed bytes.
inline constexpr size_t kQlListRecordSize = 25;
inline constexpr size_t kQlListCodeOffset = 2;
inline constexpr size_t kQlSerialOffset = 4;
inline constexpr size_t kQlSerialSize = 21;
inline constexpr uint16_t kQlListAll = 0xFFFF;  // first argument of QL_GetListDevices

inline constexpr const char* kFtdiLibraryFile = "libftd2xx.so";
inline constexpr const char* kQlLibraryFile = "libZIZUZ.so";

// The vendor's functions, in the order they are looked up. Every one is required, except
// FT_Rescan: the vendor documents it for Windows only, so a Linux build may lack it and its
// pointer then stays null (its caller checks).
struct TFtdiLibrary {
  using ListDevicesFn = FT_STATUS(void* pvArg1, void* pvArg2, DWORD dwFlags);
  using OpenFn = FT_STATUS(int deviceNumber, FT_HANDLE* pHandle);
  using HandleFn = FT_STATUS(FT_HANDLE h);
  using PurgeFn = FT_STATUS(FT_HANDLE h, ULONG ulMask);
  using ReadFn = FT_STATUS(FT_HANDLE h, void* lpBuffer, DWORD dwBytesToRead,
                           DWORD* lpdwBytesReturned);
  using WriteFn = FT_STATUS(FT_HANDLE h, void* lpBuffer, DWORD dwBytesToWrite,
                            DWORD* lpdwBytesWritten);
  using SetDivisorFn = FT_STATUS(FT_HANDLE h, USHORT usDivisor);
  using SetTimeoutsFn = FT_STATUS(FT_HANDLE h, ULONG dwReadTimeout, ULONG dwWriteTimeout);
  using SetBaudRateFn = FT_STATUS(FT_HANDLE h, ULONG dwBaudRate);
  using GetDeviceInfoFn = FT_STATUS(FT_HANDLE h, ULONG* lpftDevice, DWORD* lpdwID,
                                    char* pcSerialNumber, char* pcDescription, void* pvDummy);
  using GetStatusFn = FT_STATUS(FT_HANDLE h, DWORD* lpdwAmountInRxQueue, DWORD* lpdwAmountInTxQueue,
                                DWORD* lpdwEventStatus);
  using GetQueueStatusFn = FT_STATUS(FT_HANDLE h, DWORD* lpdwAmountInRxQueue);
  using SetDataCharacteristicsFn = FT_STATUS(FT_HANDLE h, UCHAR uWordLength, UCHAR uStopBits,
                                             UCHAR uParity);
  using SetFlowControlFn = FT_STATUS(FT_HANDLE h, USHORT usFlowControl, UCHAR uXonChar,
                                     UCHAR uXoffChar);
  using SetLatencyTimerFn = FT_STATUS(FT_HANDLE h, UCHAR ucLatency);
  using CreateDeviceInfoListFn = FT_STATUS(DWORD* lpdwNumDevs);
  using GetDeviceInfoListFn = FT_STATUS(FT_DEVICE_LIST_INFO_NODE* pDest, DWORD* lpdwNumDevs);
  using OpenExFn = FT_STATUS(void* pvArg1, DWORD dwFlags, FT_HANDLE* pHandle);
  using RescanFn = FT_STATUS();

  TFtdiLibrary();
  ~TFtdiLibrary();
  TFtdiLibrary(const TFtdiLibrary&) = delete;
  TFtdiLibrary& operator=(const TFtdiLibrary&) = delete;

  ListDevicesFn* FT_ListDevices = nullptr;
  OpenFn* FT_Open = nullptr;
  HandleFn* FT_Close = nullptr;
  HandleFn* FT_ResetDevice = nullptr;
  PurgeFn* FT_Purge = nullptr;
  ReadFn* FT_Read = nullptr;
  WriteFn* FT_Write = nullptr;
  SetDivisorFn* FT_SetDivisor = nullptr;
  SetTimeoutsFn* FT_SetTimeouts = nullptr;
  SetBaudRateFn* FT_SetBaudRate = nullptr;
  GetDeviceInfoFn* FT_GetDeviceInfo = nullptr;
  GetStatusFn* FT_GetStatus = nullptr;
  GetQueueStatusFn* FT_GetQueueStatus = nullptr;
  HandleFn* FT_SetRts = nullptr;
  SetDataCharacteristicsFn* FT_SetDataCharacteristics = nullptr;
  SetFlowControlFn* FT_SetFlowControl = nullptr;
  SetLatencyTimerFn* FT_SetLatencyTimer = nullptr;
  CreateDeviceInfoListFn* FT_CreateDeviceInfoList = nullptr;
  GetDeviceInfoListFn* FT_GetDeviceInfoList = nullptr;
  OpenExFn* FT_OpenEx = nullptr;
  RescanFn* FT_Rescan = nullptr;  // may stay null on Linux

  // The loaded module; null for a table filled by hand (tests).
  std::unique_ptr<QLibrary> Module;
};

// The maker's functions, in the order they are looked up; all required but QL_GetOpenError,
// which a library of ours gained later: without it the table still loads and the program
// only cannot say why a tracker's tty would not open. Handles are 32-bit, 0 standing for no
// device; every status is 0 on success.
struct TQlLibrary {
  using GetListDevicesFn = uint32_t(uint32_t filter, void* buffer, uint32_t* count);
  using OpenDeviceFn = uint32_t(uint16_t list_code, const char* serial, uint32_t* handle);
  using CloseDeviceFn = uint32_t(uint32_t* handle);
  using ReadNotTimeOutFn = uint32_t(uint32_t handle, void* buffer, uint32_t capacity,
                                    uint32_t* count);
  using WriteFn = uint32_t(uint32_t handle, const void* data, uint32_t length, uint32_t* written);
  using PurgeFn = uint32_t(uint32_t handle);
  using SetTimeoutsFn = uint32_t(uint32_t handle, uint32_t read_ms, uint32_t write_ms);
  using GetOpenErrorFn = uint32_t(int32_t* error, char* path, uint32_t path_size);

  TQlLibrary();
  ~TQlLibrary();
  TQlLibrary(const TQlLibrary&) = delete;
  TQlLibrary& operator=(const TQlLibrary&) = delete;

  GetListDevicesFn* QL_GetListDevices = nullptr;
  OpenDeviceFn* QL_OpenDevice = nullptr;
  CloseDeviceFn* QL_CloseDevice = nullptr;
  ReadNotTimeOutFn* QL_ReadNotTimeOut = nullptr;
  WriteFn* QL_Write = nullptr;
  PurgeFn* QL_Purge = nullptr;
  SetTimeoutsFn* QL_SetTimeouts = nullptr;
  // The calling thread's last QL_OpenDevice that found its tty but could not open it: errno
  // and the tty's path. May stay null.
  GetOpenErrorFn* QL_GetOpenError = nullptr;

  std::unique_ptr<QLibrary> Module;  // null for a table filled by hand (tests)
};

// Load by file name ("libftd2xx.so", "libZIZUZ.so"): the executable's folder first, then the
// system search (LD_LIBRARY_PATH, the linker cache). Every listed name must resolve, or the
// library is unloaded and null is returned. app_dir ends with a separator; empty skips the
// executable's folder.
std::unique_ptr<TFtdiLibrary> LoadFtdiLibrary(const std::string& app_dir);
std::unique_ptr<TQlLibrary> LoadQLLibrary(const std::string& app_dir);

}  // namespace updater
