#include "fake_libraries.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "DeviceChannel.h"

namespace discovery_test {

namespace {

ScriptedQl* g_ql = nullptr;
ScriptedFtdi* g_ftdi = nullptr;
std::vector<uint32_t>* g_sleeps = nullptr;

ScriptedQl::Device* DeviceOf(uint32_t handle) {
  if (g_ql == nullptr || handle == 0 || handle > g_ql->devices.size()) {
    return nullptr;
  }
  return &g_ql->devices[handle - 1];
}

std::string Describe(const uint8_t* data, uint32_t length) {
  // A request frame: header length 14 at offset 2; anything else is a text command.
  if (length >= 14 && data[2] == 14 && data[3] == 0) {
    return std::string("F").append(std::to_string(data[4] | (data[5] << 8)));
  }
  return std::string(reinterpret_cast<const char*>(data), length);
}

uint32_t QlList(uint32_t, void* buffer, uint32_t* count) {
  ++g_ql->listCalls;
  if (g_ql->onList) {
    g_ql->onList();
  }
  if (g_ql->listStatus != 0) {
    return g_ql->listStatus;
  }
  const auto total = static_cast<uint32_t>(g_ql->devices.size());
  if (buffer == nullptr) {
    *count = g_ql->countOverride >= 0 ? static_cast<uint32_t>(g_ql->countOverride) : total;
    return 0;
  }
  const uint32_t filled = std::min(*count, total);
  auto* records = static_cast<uint8_t*>(buffer);
  for (uint32_t i = 0; i < filled; ++i) {
    uint8_t* record = records + i * updater::kQlListRecordSize;
    std::memset(record, 0, updater::kQlListRecordSize);
    record[2] = static_cast<uint8_t>(g_ql->devices[i].listCode);
    record[3] = static_cast<uint8_t>(g_ql->devices[i].listCode >> 8);
    std::memcpy(record + 4, g_ql->devices[i].serial.data(),
                std::min<size_t>(g_ql->devices[i].serial.size(), 20));
  }
  // Reports every device it has, even beyond the buffer it was given.
  *count = g_ql->countOverride >= 0 ? static_cast<uint32_t>(g_ql->countOverride) : total;
  return 0;
}

uint32_t QlOpen(uint16_t, const char* serial, uint32_t* handle) {
  if (g_ql->onOpen) {
    g_ql->onOpen();
  }
  for (size_t i = 0; i < g_ql->devices.size(); ++i) {
    auto& dev = g_ql->devices[i];
    if (dev.serial == serial) {
      dev.seen.push_back("open");
      if (!dev.openable) {
        return 2;
      }
      *handle = static_cast<uint32_t>(i + 1);
      return 0;
    }
  }
  return 2;
}

uint32_t QlClose(uint32_t* handle) {
  if (auto* dev = DeviceOf(*handle)) {
    dev->seen.push_back("close");
  }
  *handle = 0;
  return 0;
}

uint32_t QlRead(uint32_t handle, void* buffer, uint32_t capacity, uint32_t* count) {
  *count = 0;
  auto* dev = DeviceOf(handle);
  if (dev == nullptr || dev->nextReply >= dev->replies.size()) {
    return 0;
  }
  const Bytes& reply = dev->replies[dev->nextReply++];
  const auto n = static_cast<uint32_t>(std::min<size_t>(reply.size(), capacity));
  std::copy_n(reply.begin(), n, static_cast<uint8_t*>(buffer));
  *count = n;
  return 0;
}

uint32_t QlWrite(uint32_t handle, const void* data, uint32_t length, uint32_t* written) {
  *written = 0;
  auto* dev = DeviceOf(handle);
  if (dev == nullptr) {
    return 1;
  }
  ++dev->writes;
  if (dev->writes == dev->failWriteAt) {
    return 4;
  }
  // The channel sends in parts of 64 bytes at most; every request here fits in one part.
  dev->seen.push_back(Describe(static_cast<const uint8_t*>(data), length));
  *written = length;
  return 0;
}

uint32_t QlPurge(uint32_t) {
  return 0;
}
uint32_t QlTimeouts(uint32_t, uint32_t, uint32_t) {
  return 0;
}

updater::FT_STATUS FtCreate(updater::DWORD* count) {
  ++g_ftdi->createCalls;
  *count = static_cast<updater::DWORD>(g_ftdi->nodes.size());
  return g_ftdi->createStatus;
}

updater::FT_STATUS FtGet(updater::FT_DEVICE_LIST_INFO_NODE* nodes, updater::DWORD* count) {
  if (g_ftdi->getStatus != 0) {
    return g_ftdi->getStatus;
  }
  for (size_t i = 0; i < g_ftdi->nodes.size(); ++i) {
    std::memset(&nodes[i], 0, sizeof nodes[i]);
    nodes[i].Flags = g_ftdi->nodes[i].flags;
    nodes[i].LocId = g_ftdi->nodes[i].locId;
    // Fields filled to the brim carry no terminating zero, as the vendor's may not.
    std::memcpy(nodes[i].SerialNumber, g_ftdi->nodes[i].serial.data(),
                std::min(g_ftdi->nodes[i].serial.size(), sizeof nodes[i].SerialNumber));
    std::memcpy(nodes[i].Description, g_ftdi->nodes[i].description.data(),
                std::min(g_ftdi->nodes[i].description.size(), sizeof nodes[i].Description));
  }
  *count = static_cast<updater::DWORD>(g_ftdi->nodes.size());
  return 0;
}

// Nothing can be opened through the scripted vendor library.
updater::FT_STATUS FtOpenEx(void*, updater::DWORD, updater::FT_HANDLE* handle) {
  *handle = nullptr;
  return 2;
}

uint32_t RecordTick() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RecordSleep(uint32_t ms) {
  if (g_sleeps != nullptr) {
    g_sleeps->push_back(ms);
  }
}

}  // namespace

ScriptedQl::ScriptedQl() {
  g_ql = this;
  table_.QL_GetListDevices = &QlList;
  table_.QL_OpenDevice = &QlOpen;
  table_.QL_CloseDevice = &QlClose;
  table_.QL_ReadNotTimeOut = &QlRead;
  table_.QL_Write = &QlWrite;
  table_.QL_Purge = &QlPurge;
  table_.QL_SetTimeouts = &QlTimeouts;
}

ScriptedQl::~ScriptedQl() {
  g_ql = nullptr;
}

std::unique_ptr<updater::TQlLibrary> ScriptedQl::NewTable() const {
  auto table = std::make_unique<updater::TQlLibrary>();
  table->QL_GetListDevices = table_.QL_GetListDevices;
  table->QL_OpenDevice = table_.QL_OpenDevice;
  table->QL_CloseDevice = table_.QL_CloseDevice;
  table->QL_ReadNotTimeOut = table_.QL_ReadNotTimeOut;
  table->QL_Write = table_.QL_Write;
  table->QL_Purge = table_.QL_Purge;
  table->QL_SetTimeouts = table_.QL_SetTimeouts;
  return table;
}

ScriptedFtdi::ScriptedFtdi() {
  g_ftdi = this;
  table_.FT_CreateDeviceInfoList = &FtCreate;
  table_.FT_GetDeviceInfoList = &FtGet;
  table_.FT_OpenEx = &FtOpenEx;
}

ScriptedFtdi::~ScriptedFtdi() {
  g_ftdi = nullptr;
}

updater::TChannelClock RecordingClock(std::vector<uint32_t>* sleeps) {
  g_sleeps = sleeps;
  updater::TChannelClock clock;
  clock.Tick = &RecordTick;
  clock.Sleep = &RecordSleep;
  return clock;
}

}  // namespace discovery_test
