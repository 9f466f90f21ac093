#pragma once
// The scan thread: one pass that lists the trackers of both driver libraries, matches them
// against the session's device list, identifies the new ones and ends.
//
// Threads: everything here runs on the scan thread. It touches the session's device list only
// under its lock (reads Serial, BootMode and BootStarted, writes Removed and Unplugged); the
// records of NewDevices are its own until the end handler on the main thread takes them over. Log
// lines go to the sink on this thread; the sink takes them without waiting (the event log).
//
// Ownership: whoever starts the scan owns it and frees it after its end handler.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "DevEntry.h"
#include "DeviceChannel.h"
#include "DriverLibraries.h"
#include "LogSink.h"
#include "ScanNotices.h"
#include "WorkerThread.h"

namespace updater {

// What one scan needs from the session that starts it. Either library table may be null (that
// library lists no devices). The list and its lock belong to the session and outlive the scan.
struct TScanContext {
  const TFtdiLibrary* Ftdi = nullptr;
  const TQlLibrary* Ql = nullptr;
  TDevList* DevList = nullptr;
  std::mutex* DevListLock = nullptr;
  TLogSink Sink;  // called on the scan thread; must not wait for the main thread
  TChannelClock Clock;
  // What earlier scans have told about unusable devices; null: every scan tells it again.
  TScanNotices* Notices = nullptr;
};

// An FTDI device that another driver holds, as the scan tells about it.
struct THeldDevice {
  std::string Key;   // the same device from one scan to the next
  std::string Name;  // how the log names it
};

// A line the end handler writes after the cycle's own error line.
struct TScanNotice {
  int Kind = 0;
  int32_t Serial = 0;
  std::string Text;
};

// Cycle results handed to the end handler.
inline constexpr int32_t kScanOpenFailed = 7;
inline constexpr int32_t kScanNoAnswer = 8;

class TReadVersion : public TWorkerThread {
 public:
  TReadVersion(TDispatcher& dispatcher, TScanContext context);
  ~TReadVersion() override;

  uint32_t StartTick = 0;
  std::string MsgText;
  uint8_t MsgLevel = 0;
  int32_t MsgDevice = 0;
  TDevList NewDevices;  // found new in this cycle, in the order found; owned
  int32_t ErrorCode = 0;
  int32_t LastReply = 0;  // no reply code is kept by a scan; travels in the cycle's error line
  int32_t ScanTime = 0;
  // The first tracker of the cycle that would not open or answer.
  TScanCulprit Culprit;
  // Trackers found but not ours to open (permission), told after the cycle's error line.
  std::vector<TScanNotice> Notices;

  // One cycle: listing, matching under the lock, identification.
  void Scan();
  void ListFTDIDevices(TDevList& target);
  void ListQLDevices(TDevList& target);

  // Opens, queries and closes one new device; true when the cycle is still unspoiled.
  bool IdentifyDevice(TDevEntry& dev);
  bool QueryBootLoader(TDevEntry& dev);
  bool QueryBootInfo(TDevEntry& dev);
  bool QueryFirmwareVersion(TDevEntry& dev);
  bool StartBootLoader(TDevEntry& dev);

  // Hand one line to the event log. False once shutdown has begun: the scan then winds down.
  bool Log(int kind, int32_t serial, const char* format, ...) __attribute__((format(printf, 4, 5)));
  bool LogText(int kind, int32_t serial, const std::string& text);

 protected:
  void Execute() override;

 private:
  void MatchKnownDevices();
  static bool WaitsReplug(const TDevEntry& known);
  void CheckReturned(int32_t serial);
  void TellHeldDevices(const std::vector<THeldDevice>& held);
  void ForgetUnlistedDevices();
  void NoteOpenResult(const TDevEntry& dev, const TOpenFailure& why);
  void IdentifyNewDevices();
  void LogException(const char* what);
  bool SendFrame(TDevEntry& dev, uint16_t code);
  bool SendText(TDevEntry& dev, const char* command);

  TScanContext context_;
  TDeviceChannel channel_;
};

}  // namespace updater
