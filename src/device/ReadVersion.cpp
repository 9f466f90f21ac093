#include "ReadVersion.h"

#include <cstdarg>
#include <exception>
#include <set>
#include <utility>

#include "TextFormat.h"
#include "Tick.h"

namespace updater {

TReadVersion::TReadVersion(TDispatcher& dispatcher, TScanContext context)
    : TWorkerThread(dispatcher),
      context_(std::move(context)),
      channel_(context_.Ftdi, context_.Ql, context_.Clock) {}

// NewDevices releases the records the end handler did not take over.
TReadVersion::~TReadVersion() = default;

void TReadVersion::Execute() {
  ErrorCode = 0;
  Culprit = TScanCulprit{};
  LastReply = 0;
  StartTick = context_.Clock.Tick();
  Scan();
}

void TReadVersion::Scan() {
  // Each step catches its own exceptions, so a failing library or device costs only the rest
  // of that step and the cycle goes on with what it has.
  try {
    ListFTDIDevices(NewDevices);
    ListQLDevices(NewDevices);
  } catch (const std::exception& e) {
    LogException(e.what());
  } catch (...) {
    LogException("");
  }
  ForgetUnlistedDevices();
  if (!Terminated()) {
    MatchKnownDevices();
  }
  if (!Terminated()) {
    IdentifyNewDevices();
  }
  ScanTime = static_cast<int32_t>(context_.Clock.Tick() - StartTick);
}

// Nothing that waits for the main thread happens under the lock: an exception's line is
// handed over only after the lock is released.
void TReadVersion::MatchKnownDevices() {
  std::string failure;
  bool failed = false;
  std::vector<int32_t> waiting;  // sent into their boot loader and listed again
  {
    std::lock_guard lock(*context_.DevListLock);
    try {
      for (const auto& known : *context_.DevList) {
        if (FindDevice(NewDevices, known->Serial) != nullptr) {
          // Listed again: a mark left by an earlier pass (a spoiled cycle, or an unplug while
          // it was being written) would otherwise drop a connected device.
          known->Removed = false;
          if (WaitsReplug(*known)) {
            waiting.push_back(known->Serial);
          } else {
            DeleteDevice(NewDevices, known->Serial);
          }
        } else {
          // A job on it stops at its next sector; the session removes the record once that
          // job has ended.
          known->Unplugged = true;
          known->Removed = true;
        }
      }
    } catch (const std::exception& e) {
      failed = true;
      failure = e.what();
    } catch (...) {
      failed = true;
    }
  }
  if (failed) {
    LogException(failure.c_str());
  }
  for (const int32_t serial : waiting) {
    if (!Terminated()) {
      CheckReturned(serial);
    } else {
      DeleteDevice(NewDevices, serial);
    }
  }
}

bool TReadVersion::WaitsReplug(const TDevEntry& known) {
  return !known.BootMode && known.BootStarted;
}

// A tracker sent into its boot loader can be gone and back between two listings (its re-plug
// is quicker than a busy cycle); listed by serial alone it would look unchanged and wait for
// a re-plug forever. A boot-loader query tells: answered, the old record goes and the tracker
// is identified afresh; not answered (still on its way), the record stays. The query is the
// one every new tracker gets first, which a running firmware ignores, so a tracker that has
// not switched yet is never sent the start command twice.
void TReadVersion::CheckReturned(int32_t serial) {
  TDevEntry* listed = FindDevice(NewDevices, serial);
  if (listed == nullptr) {
    return;
  }
  bool back = false;
  if (channel_.DevOpen(*listed)) {
    back = QueryBootLoader(*listed);
    channel_.DevClose(*listed);
  }
  if (!back) {
    DeleteDevice(NewDevices, serial);
    return;
  }
  std::lock_guard lock(*context_.DevListLock);
  for (const auto& known : *context_.DevList) {
    if (known->Serial == serial && WaitsReplug(*known)) {
      known->Unplugged = true;
      known->Removed = true;
    }
  }
}

namespace {

// Keys of TScanNotices for trackers whose tty the user may not open.
constexpr std::string_view kAccessNotice = "access:";

std::string AccessKey(const TDevEntry& dev) {
  return std::string(kAccessNotice) + std::to_string(dev.Driver) + " " +
         std::to_string(dev.ListCode) + " " + dev.SerialText;
}

}  // namespace

// A tracker that has been unplugged is told about again when it comes back; the listing,
// taken before the known devices leave it, holds every device present.
void TReadVersion::ForgetUnlistedDevices() {
  if (context_.Notices == nullptr) {
    return;
  }
  std::set<std::string> listed;
  for (const auto& dev : NewDevices) {
    listed.insert(AccessKey(*dev));
  }
  context_.Notices->KeepOnly(kAccessNotice, listed);
}

// The cycle's own error line tells that a device would not open, not why; when its tty is
// there but not the user's to open, say so once, with the tty and the fix. Any other outcome
// (opened, or failed otherwise) lets go of what was told.
void TReadVersion::NoteOpenResult(const TDevEntry& dev, const TOpenFailure& why) {
  const std::string key = AccessKey(dev);
  if (!why.PermissionDenied()) {
    if (context_.Notices != nullptr) {
      context_.Notices->Forget(key);
    }
    return;
  }
  if (context_.Notices != nullptr && !context_.Notices->First(key)) {
    return;
  }
  const std::string path = why.Path.empty() ? "прибора" : why.Path;
  Notices.push_back(
      {kLogError, dev.Serial,
       "Нет прав на открытие порта " + path +
           ". Установите правила udev из пакета программы или добавьте пользователя в группу "
           "dialout (sudo usermod -aG dialout $USER) и войдите в систему заново"});
}

void TReadVersion::IdentifyNewDevices() {
  try {
    for (const auto& dev : NewDevices) {
      if (Terminated()) {
        return;
      }
      IdentifyDevice(*dev);
    }
  } catch (const std::exception& e) {
    LogException(e.what());
  } catch (...) {
    LogException("");
  }
}

void TReadVersion::LogException(const char* what) {
  try {
    LogText(kLogError, 0, std::string("Исключение \"") + what + "\" при поиске устройств");
  } catch (...) {
    // The main thread could not even take the line; the cycle goes on regardless.
  }
}

bool TReadVersion::Log(int kind, int32_t serial, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return LogText(kind, serial, text);
}

bool TReadVersion::LogText(int kind, int32_t serial, const std::string& text) {
  MsgLevel = static_cast<uint8_t>(kind);
  MsgDevice = serial;
  MsgText = text;
  if (!context_.Sink) {
    return true;
  }
  if (!HandOverLine(context_.Sink, MsgLevel, MsgDevice, MsgText)) {
    Terminate();  // shutdown has begun; nothing more of this cycle will be shown
    return false;
  }
  return true;
}

}  // namespace updater
