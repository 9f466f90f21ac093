#pragma once
// The two USB driver libraries, loaded at run time by file name: the chip vendor's D2XX
// library and the maker's device library. Prototypes follow the vendor's published ones:
// status and counts are 32-bit, FT_HANDLE is pointer-sized.
//
// A loaded library stays loaded until the process ends; the tables are read-only after load
// and may be used from any thread.

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

// One record of the maker's device list, as the program reads it: 25 packed bytes.
inline constexpr size_t kQlListRecordSize = 25;
inline constexpr size_t kQlListCodeOffset = 2;
inline constexpr size_t kQlSerialOffset = 4;
inline constexpr size_t kQlSerialSize = 21;

struct TFtdiLibrary;  // function table, DriverLibraries.cpp
struct TQlLibrary;

// Load by bare file name ("libftd2xx.so", "libZIZUZ.so"): the executable's folder first, then
// the system search. Every listed name must resolve, or the library is unloaded and null is
// returned. app_dir ends with a separator; empty skips the executable's folder.
std::unique_ptr<TFtdiLibrary> LoadFtdiLibrary(const std::string& app_dir);
std::unique_ptr<TQlLibrary> LoadQLLibrary(const std::string& app_dir);

}  // namespace updater
