#include "TrackerHost.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>
#include <utility>

#include "TrackerDump.h"
#include "TrackerPort.h"

namespace updater::sim {

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A client that has just read a last reply may still be collecting it; give it a moment
// before the device goes away.
constexpr int kGraceAfterDrainMs = 20;

bool IsAcceptedFinish(const RequestRecord& r) {
  return r.frameNumber != 0 && (r.code == 11 || r.code == 12) && r.result == 128;
}

}  // namespace

struct TrackerHost::Slot {
  explicit Slot(TrackerConfig c)
      : config(c), model(std::move(c)), port(MakeTrackerPort(config.driver)) {}

  const TrackerConfig config;  // immutable copy for the slot's thread

  mutable std::mutex m;  // guards model and the visible state below
  Tracker model;
  bool plugged = false;
  bool vanished = false;
  std::string slavePath;
  int forgotten = 0;  // partial requests dropped after silence

  // Requests from other threads, read by the slot's thread.
  std::atomic<bool> wantPlugged{true};
  std::atomic<int64_t> plugAtMs{0};
  std::atomic<bool> stop{false};
  int wakeFd = -1;

  // Owned by the slot's thread.
  std::unique_ptr<TrackerPort> port;
  int64_t paceDueMs = std::numeric_limits<int64_t>::min() / 2;  // when the last answer was due
  std::thread thread;

  void Wake() const {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd, &one, sizeof one);
  }
};

TrackerHost::TrackerHost(HostOptions options) : options_(std::move(options)) {}

TrackerHost::~TrackerHost() {
  Stop();
  for (auto& [serial, slot] : slots_) {
    if (slot->wakeFd >= 0) {
      close(slot->wakeFd);
    }
  }
}

bool TrackerHost::Add(TrackerConfig config, std::string* error) {
  std::lock_guard lock(mutex_);
  if (config.serial.empty() || slots_.count(config.serial) != 0) {
    if (error != nullptr) {
      *error = config.serial.empty() ? "empty serial number"
                                     : "serial number " + config.serial + " used twice";
    }
    return false;
  }
  auto slot = std::make_unique<Slot>(std::move(config));
  slot->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  Slot& ref = *slot;
  slots_.emplace(ref.config.serial, std::move(slot));
  if (started_) {
    StartSlot(ref);
  }
  return true;
}

void TrackerHost::Start() {
  std::lock_guard lock(mutex_);
  if (started_) {
    return;
  }
  started_ = true;
  for (auto& [serial, slot] : slots_) {
    StartSlot(*slot);
  }
}

void TrackerHost::StartSlot(Slot& slot) {
  slot.stop = false;
  slot.thread = std::thread([this, &slot] { Run(slot); });
}

void TrackerHost::Stop() {
  std::vector<Slot*> running;
  {
    std::lock_guard lock(mutex_);
    if (!started_) {
      return;
    }
    started_ = false;
    for (auto& [serial, slot] : slots_) {
      running.push_back(slot.get());
    }
  }
  for (Slot* slot : running) {
    slot->stop = true;
    slot->Wake();
  }
  for (Slot* slot : running) {
    if (slot->thread.joinable()) {
      slot->thread.join();
    }
  }
}

bool TrackerHost::Plug(const std::string& serial, std::chrono::milliseconds timeout) {
  Slot* slot = Find(serial);
  if (slot == nullptr) {
    return false;
  }
  {
    std::lock_guard lock(slot->m);
    slot->vanished = false;
  }
  slot->plugAtMs = 0;
  slot->wantPlugged = true;
  slot->Wake();
  return WaitUntil(
      serial, [](const TrackerStatus& s) { return s.plugged; }, timeout);
}

bool TrackerHost::Unplug(const std::string& serial, std::chrono::milliseconds timeout) {
  Slot* slot = Find(serial);
  if (slot == nullptr) {
    return false;
  }
  slot->wantPlugged = false;
  slot->Wake();
  return WaitUnplugged(serial, timeout);
}

std::vector<std::string> TrackerHost::Serials() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> serials;
  for (const auto& [serial, slot] : slots_) {
    serials.push_back(serial);
  }
  return serials;
}

TrackerHost::Slot* TrackerHost::Find(const std::string& serial) const {
  std::lock_guard lock(mutex_);
  auto it = slots_.find(serial);
  return it == slots_.end() ? nullptr : it->second.get();
}

TrackerStatus TrackerHost::StatusOf(const Slot& slot) const {
  std::lock_guard lock(slot.m);
  TrackerStatus s;
  s.known = true;
  s.plugged = slot.plugged;
  s.vanished = slot.vanished;
  s.mode = slot.model.Mode();
  s.slavePath = slot.slavePath;
  s.entryPath = EntryPath(options_.dirs, slot.config);
  s.requests = slot.model.Requests().size();
  s.frames = slot.model.FramesReceived();
  s.forgotten = slot.forgotten;
  s.finish = slot.model.Finish();
  return s;
}

TrackerStatus TrackerHost::Status(const std::string& serial) const {
  Slot* slot = Find(serial);
  return slot == nullptr ? TrackerStatus{} : StatusOf(*slot);
}

std::vector<RequestRecord> TrackerHost::Requests(const std::string& serial) const {
  Slot* slot = Find(serial);
  if (slot == nullptr) {
    return {};
  }
  std::lock_guard lock(slot->m);
  return slot->model.Requests();
}

std::vector<uint8_t> TrackerHost::Flash(const std::string& serial) const {
  Slot* slot = Find(serial);
  if (slot == nullptr) {
    return {};
  }
  std::lock_guard lock(slot->m);
  return slot->model.Flash();
}

SimSectorMap TrackerHost::SectorMap(const std::string& serial) const {
  Slot* slot = Find(serial);
  if (slot == nullptr) {
    return {};
  }
  std::lock_guard lock(slot->m);
  return slot->model.SectorMap();
}

bool TrackerHost::Dump(const std::string& serial, const std::string& dir, std::string* error) {
  Slot* slot = Find(serial);
  std::string reason = "unknown serial number " + serial;
  bool ok = false;
  if (slot != nullptr) {
    std::lock_guard lock(slot->m);
    ok = DumpTracker(slot->model, dir, reason);
  }
  if (!ok && error != nullptr) {
    *error = reason;
  }
  return ok;
}

bool TrackerHost::DumpAll(const std::string& dir, std::string* error) {
  bool ok = true;
  for (const std::string& serial : Serials()) {
    ok = Dump(serial, dir, error) && ok;
  }
  return ok;
}

bool TrackerHost::WaitUntil(const std::string& serial,
                            const std::function<bool(const TrackerStatus&)>& pred,
                            std::chrono::milliseconds timeout) const {
  Slot* slot = Find(serial);
  if (slot == nullptr) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  while (!pred(StatusOf(*slot))) {
    if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
      return pred(StatusOf(*slot));
    }
  }
  return true;
}

bool TrackerHost::WaitPlugged(const std::string& serial, TrackerMode mode,
                              std::chrono::milliseconds timeout) const {
  return WaitUntil(
      serial, [mode](const TrackerStatus& s) { return s.plugged && s.mode == mode; }, timeout);
}

bool TrackerHost::WaitUnplugged(const std::string& serial,
                                std::chrono::milliseconds timeout) const {
  return WaitUntil(
      serial, [](const TrackerStatus& s) { return !s.plugged; }, timeout);
}

bool TrackerHost::WaitRequests(const std::string& serial, size_t count,
                               std::chrono::milliseconds timeout) const {
  return WaitUntil(
      serial, [count](const TrackerStatus& s) { return s.requests >= count; }, timeout);
}

void TrackerHost::Emit(const std::string& line) {
  if (options_.onEvent) {
    std::lock_guard lock(emitMutex_);
    options_.onEvent(line);
  }
}

void TrackerHost::Notify() {
  { std::lock_guard lock(mutex_); }
  cv_.notify_all();
}

void TrackerHost::PlugIn(Slot& slot) {
  std::string error;
  if (!slot.port->Open(options_.dirs.ftdiDir, slot.config.serial)) {
    error = slot.config.driver == DriverKind::Ftdi ? "cannot open a socket"
                                                   : "cannot open a pseudo-terminal";
  } else if (!Publish(options_.dirs, slot.config, slot.port->DevicePath(), error)) {
    slot.port->Close();
  }
  if (!slot.port->IsOpen()) {
    // Retrying would only repeat the failure; stay away until asked again.
    slot.wantPlugged = false;
    Emit("error " + slot.config.serial + " " + error);
    return;
  }
  // The socket was moved to the entry itself; a pty stays where the link leads.
  const std::string entry = EntryPath(options_.dirs, slot.config);
  const bool socket = slot.config.driver == DriverKind::Ftdi;
  const std::string device = socket ? entry : slot.port->DevicePath();
  TrackerMode mode;
  {
    std::lock_guard lock(slot.m);
    slot.plugged = true;
    slot.slavePath = device;
    mode = slot.model.Mode();
  }
  Emit("published " + slot.config.serial + " " + ModeName(mode) + " " + entry +
       (socket ? " (socket)" : " -> " + device));
  Notify();
}

void TrackerHost::TakeOut(Slot& slot, const char* event, bool intoBootLoader) {
  Withdraw(options_.dirs, slot.config);
  slot.port->Close();
  {
    std::lock_guard lock(slot.m);
    slot.plugged = false;
    slot.slavePath.clear();
    slot.model.DropPartialInput();
    if (intoBootLoader) {
      slot.model.EnterBootLoader();
    }
  }
  Emit(std::string(event) + " " + slot.config.serial);
  Notify();
}

void TrackerHost::Sleep(Slot& slot, int ms) {
  const int64_t until = NowMs() + ms;
  for (int64_t left = ms; left > 0 && !slot.stop; left = until - NowMs()) {
    pollfd p{slot.wakeFd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) > 0) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t n = read(slot.wakeFd, &count, sizeof count);
    }
  }
}

void TrackerHost::WaitForClientToRead(Slot& slot) {
  const int64_t until = NowMs() + options_.drainMs;
  while (slot.port->UnreadByClient() > 0 && NowMs() < until && !slot.stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Sleep(slot, kGraceAfterDrainMs);
}

void TrackerHost::Perform(Slot& slot, const TrackerAction& action, bool& gone) {
  if (action.paceMs > 0) {
    // The tracker's own clock: a host that was late in asking has that lateness made up (up
    // to one pace), so that the pace stays the tracker's and not the machine's.
    const int64_t now = NowMs();
    slot.paceDueMs = std::max(slot.paceDueMs + action.paceMs, now);
    Sleep(slot, static_cast<int>(slot.paceDueMs - now));
  }
  if (action.delayMs > 0) {
    Sleep(slot, action.delayMs);
  }
  if (!action.reply.empty() && !slot.port->WriteAll(action.reply, 1000)) {
    Emit("error " + slot.config.serial + " reply not delivered");
  }
  if (!action.replug && !action.vanish) {
    return;
  }
  WaitForClientToRead(slot);
  gone = true;
  if (action.replug) {
    // Due before anyone can see the tracker gone: a Plug() from a waiter woken by its removal
    // must not be put off by the automatic re-plug time.
    slot.plugAtMs = NowMs() + options_.replugMs;
    TakeOut(slot, "withdrawn", true);
  } else {
    slot.wantPlugged = false;
    {
      std::lock_guard lock(slot.m);
      slot.vanished = true;
    }
    TakeOut(slot, "vanished");
  }
}

void TrackerHost::Run(Slot& slot) {
  std::vector<uint8_t> buffer(4096);
  int64_t lastInput = NowMs();
  while (!slot.stop) {
    const int64_t now = NowMs();
    if (slot.port->IsOpen() && !slot.wantPlugged) {
      TakeOut(slot, "withdrawn");
    } else if (!slot.port->IsOpen() && slot.wantPlugged && now >= slot.plugAtMs) {
      PlugIn(slot);
    }

    bool partial;
    {
      std::lock_guard lock(slot.m);
      partial = slot.model.HasPartialInput();
    }
    int timeout = -1;
    if (!slot.port->IsOpen()) {
      if (slot.wantPlugged) {
        timeout = static_cast<int>(std::max<int64_t>(0, slot.plugAtMs - now));
      }
    } else if (partial) {
      timeout = static_cast<int>(std::max<int64_t>(0, lastInput + options_.resyncMs - now));
    }

    pollfd fds[2] = {{slot.wakeFd, POLLIN, 0}, {slot.port->PollFd(), POLLIN, 0}};
    const nfds_t count = slot.port->IsOpen() ? 2 : 1;
    if (poll(fds, count, timeout) < 0) {
      continue;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t n = 0;
      [[maybe_unused]] ssize_t r = read(slot.wakeFd, &n, sizeof n);
    }
    if (count == 2 && fds[1].revents != 0) {
      long n = slot.port->ReadAvailable(buffer.data(), buffer.size());
      if (n < 0) {
        // Nothing sensible to read; do not spin on a broken master.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (n == 0) {
        continue;
      }
      lastInput = NowMs();
      std::vector<TrackerAction> actions;
      std::vector<RequestRecord> fresh;
      {
        std::lock_guard lock(slot.m);
        const size_t before = slot.model.Requests().size();
        actions = slot.model.Receive(std::span(buffer.data(), static_cast<size_t>(n)));
        const auto& all = slot.model.Requests();
        fresh.assign(all.begin() + static_cast<long>(before), all.end());
      }
      for (const RequestRecord& r : fresh) {
        Emit("request " + slot.config.serial + " " + RequestSummary(r));
        if (IsAcceptedFinish(r)) {
          Emit("finished " + slot.config.serial + " " + (r.code == 11 ? "success" : "failure"));
        }
      }
      if (!fresh.empty()) {
        Notify();
      }
      bool gone = false;
      for (const TrackerAction& action : actions) {
        Perform(slot, action, gone);
        if (gone || slot.stop) {
          break;
        }
      }
      continue;
    }
    if (partial && slot.port->IsOpen() && NowMs() - lastInput >= options_.resyncMs) {
      std::lock_guard lock(slot.m);
      slot.model.DropPartialInput();
      ++slot.forgotten;
    }
  }
  if (slot.port->IsOpen()) {
    TakeOut(slot, "withdrawn");
  }
}

}  // namespace updater::sim
