#include "session_rig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace session_test {

using namespace updater;

bool Eventually(const std::function<bool()>& pred, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > timeout_ms) {
      return pred();
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

void Serve(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

SessionRig::SessionRig(std::unique_ptr<TFtdiLibrary> ftdi, std::unique_ptr<TQlLibrary> ql,
                       bool auto_write)
    : session_(std::make_unique<TUpdaterSession>()) {
  TUpdaterSession& session = *session_;
  // The libraries are the test's; the loaders hand them over once.
  auto ftdi_shared = std::make_shared<std::unique_ptr<TFtdiLibrary>>(std::move(ftdi));
  auto ql_shared = std::make_shared<std::unique_ptr<TQlLibrary>>(std::move(ql));
  session.SetLibraryLoaders({[ftdi_shared](const std::string&) { return std::move(*ftdi_shared); },
                             [ql_shared](const std::string&) { return std::move(*ql_shared); }});
  session.SetAutoWrite(auto_write);
  QObject::connect(&session.Log(), &TEventLog::Line, [this](int kind, const std::string& line) {
    // "Прибор -------\t" or "Прибор %7d\t", then the text.
    const size_t tab = line.find('\t');
    const std::string prefix = line.substr(0, tab);
    const std::string number = prefix.substr(prefix.rfind(' ') + 1);
    const int32_t serial = number.find('-') != std::string::npos ? 0 : std::stoi(number);
    lines.push_back({kind, serial, line.substr(tab + 1)});
  });
  QObject::connect(&session, &TUpdaterSession::DeviceAdded, [this](const TDeviceShown& device) {
    serials_[device.Id] = device.Serial;
    events.push_back("added " + std::to_string(device.Serial));
  });
  QObject::connect(&session, &TUpdaterSession::DeviceChanged,
                   [this](uint64_t id, const TDeviceStatus& status) {
                     events.push_back("status " + std::to_string(serials_[id]) + " " +
                                      status.Message + (status.CanWrite ? " +" : " -"));
                   });
  QObject::connect(&session, &TUpdaterSession::DeviceRemoved, [this](uint64_t id) {
    events.push_back("removed " + std::to_string(serials_[id]));
  });
  QObject::connect(&session, &TUpdaterSession::JobProgress,
                   [this](uint64_t id, int percent) { progress[id].push_back(percent); });
  QObject::connect(&session, &TUpdaterSession::JobDone,
                   [this](uint64_t, const TJobOutcome& outcome) {
                     outcomes[outcome.Serial] = outcome;
                     events.push_back("done " + std::to_string(outcome.Serial) + " " +
                                      std::to_string(outcome.ResultCode));
                   });
  session.LoadDriverLibraries();
}

SessionRig::~SessionRig() {
  // The session's last signals (its devices closed) reach the records below.
  session_.reset();
}

bool SessionRig::Idle() const {
  return session_ && !session_->ScanRunning() && !session_->ScanDue();
}

bool SessionRig::Settled(size_t count) const {
  return Idle() && session_->DeviceCount() == count && session_->RunningJobs() == 0;
}

const TDevEntry* SessionRig::Device(int32_t serial) const {
  return session_->DeviceBySerial(serial);
}

}  // namespace session_test
