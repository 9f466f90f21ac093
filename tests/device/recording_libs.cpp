#include "recording_libs.h"

#include <algorithm>
#include <cstring>

namespace recording {

TScript Script;
std::vector<std::string> Calls;
uint32_t Now = 1000;

namespace {

using updater::DWORD;
using updater::FT_HANDLE;
using updater::FT_STATUS;
using updater::ULONG;

std::string queue;
int write_calls = 0;

void Record(const std::string& call) {
  Calls.push_back(call);
}

// Moves every arrival due by now into the queue.
void Deliver() {
  auto it = Script.Arrivals.begin();
  while (it != Script.Arrivals.end() && it->first <= Now) {
    queue += it->second;
    it = Script.Arrivals.erase(it);
  }
}

uint32_t Take(void* buffer, uint32_t wanted) {
  Deliver();
  const auto n = static_cast<uint32_t>(std::min<size_t>(wanted, queue.size()));
  std::memcpy(buffer, queue.data(), n);
  queue.erase(0, n);
  return n;
}

uint32_t WriteCount(uint32_t length) {
  const bool short_call = write_calls++ == Script.ShortWriteCall;
  return short_call && length > 0 ? length - 1 : length;
}

// FTDI side.
FT_STATUS OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  Record("FT_OpenEx " + std::string(static_cast<const char*>(arg)) + " " + std::to_string(flags));
  *handle = Script.OpenGivesHandle ? kFtHandle : nullptr;
  return Script.OpenStatus;
}
FT_STATUS SetTimeouts(FT_HANDLE, ULONG read_ms, ULONG write_ms) {
  Record("FT_SetTimeouts " + std::to_string(read_ms) + " " + std::to_string(write_ms));
  return 0;
}
FT_STATUS ResetDevice(FT_HANDLE) {
  Record("FT_ResetDevice");
  return 0;
}
FT_STATUS Close(FT_HANDLE) {
  Record("FT_Close");
  return 0;
}
FT_STATUS Write(FT_HANDLE, void*, DWORD length, DWORD* written) {
  Record("FT_Write " + std::to_string(length));
  *written = WriteCount(length);
  return Script.WriteStatus;
}
FT_STATUS GetStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
  Record("FT_GetStatus");
  Deliver();
  *rx = static_cast<DWORD>(queue.size());
  *tx = 0;
  *events = 0;
  return Script.StatusResult;
}
FT_STATUS Read(FT_HANDLE, void* buffer, DWORD wanted, DWORD* got) {
  Record("FT_Read " + std::to_string(wanted));
  *got = Take(buffer, wanted) + Script.ClaimedExtra;
  return Script.ReadStatus;
}

// The maker's side.
uint32_t QlOpen(uint16_t list_code, const char* serial, uint32_t* handle) {
  Record("QL_OpenDevice " + std::to_string(list_code) + " " + serial);
  *handle = Script.OpenGivesHandle ? kQlHandle : 0;
  return Script.OpenStatus;
}
uint32_t QlSetTimeouts(uint32_t, uint32_t read_ms, uint32_t write_ms) {
  Record("QL_SetTimeouts " + std::to_string(read_ms) + " " + std::to_string(write_ms));
  return 0;
}
uint32_t QlClose(uint32_t* handle) {
  Record("QL_CloseDevice " + std::to_string(*handle));
  *handle = 0;
  return 0;
}
uint32_t QlWrite(uint32_t, const void*, uint32_t length, uint32_t* written) {
  Record("QL_Write " + std::to_string(length));
  *written = WriteCount(length);
  return Script.WriteStatus;
}
uint32_t QlRead(uint32_t, void* buffer, uint32_t capacity, uint32_t* count) {
  Record("QL_ReadNotTimeOut " + std::to_string(capacity) + " preset " + std::to_string(*count));
  *count = Take(buffer, capacity) + Script.ClaimedExtra;
  return Script.ReadStatus;
}

uint32_t Tick() {
  return Now;
}
void Sleep(uint32_t ms) {
  Record("sleep " + std::to_string(ms));
  Now += ms;
}

}  // namespace

void Reset() {
  Script = TScript{};
  Calls.clear();
  Now = 1000;
  queue.clear();
  write_calls = 0;
}

std::string Queued() {
  Deliver();
  return queue;
}

std::unique_ptr<updater::TFtdiLibrary> FtdiTable() {
  auto table = std::make_unique<updater::TFtdiLibrary>();
  table->FT_OpenEx = &OpenEx;
  table->FT_SetTimeouts = &SetTimeouts;
  table->FT_ResetDevice = &ResetDevice;
  table->FT_Close = &Close;
  table->FT_Write = &Write;
  table->FT_GetStatus = &GetStatus;
  table->FT_Read = &Read;
  return table;
}

std::unique_ptr<updater::TQlLibrary> QlTable() {
  auto table = std::make_unique<updater::TQlLibrary>();
  table->QL_OpenDevice = &QlOpen;
  table->QL_SetTimeouts = &QlSetTimeouts;
  table->QL_CloseDevice = &QlClose;
  table->QL_Write = &QlWrite;
  table->QL_ReadNotTimeOut = &QlRead;
  return table;
}

updater::TChannelClock Clock() {
  return {&Tick, &Sleep};
}

}  // namespace recording
