#pragma once
// A portable copy of veltorium-station in a temporary folder, run as a child process against
// virtual trackers served in this process and published where both driver libraries look.
// Each rig has its own runtime folder, so its instance lock is its own.

#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TrackerHost.h"

namespace station_test {

struct Finished {
  int code = -1;
  std::string out;
  std::string err;
  std::vector<QJsonObject> events;  // stdout's JSON Lines, where it gave them
};

// The events of one kind (and serial, when not 0).
std::vector<QJsonObject> Events(const std::vector<QJsonObject>& all, const char* kind,
                                int serial = 0);

class StationRig {
 public:
  explicit StationRig(int replug_ms = 1500);
  ~StationRig();

  updater::sim::TrackerHost& Host() { return *host_; }
  // Adds and plugs in a tracker given as tracker-sim's SPEC; waits until it is visible.
  void Add(const std::string& tracker);
  const std::string& Dir() const { return dir_; }

  // Starts the station with these arguments; stdout and stderr are kept apart.
  std::unique_ptr<QProcess> Start(const QStringList& args) const;
  // Runs it to its end (generous time-out; a hung station fails the test).
  Finished Run(const QStringList& args, int timeout_ms = 300000) const;
  // Reads stdout's JSON Lines of a running station until pred holds for one, at most
  // timeout_ms; every event read is appended to seen.
  static bool WaitEvent(QProcess& process, std::vector<QJsonObject>& seen,
                        const std::function<bool(const QJsonObject&)>& pred,
                        int timeout_ms = 240000);
  static Finished End(QProcess& process, std::vector<QJsonObject> seen, int timeout_ms = 240000);
  // Runs it to its end on a pseudo-terminal of this size (stdin, stdout and stderr, its
  // controlling terminal): out gets every byte it wrote there, events stay empty.
  Finished RunOnTerminal(const QStringList& args, int columns, int rows,
                         int timeout_ms = 300000) const;

 private:
  std::string dir_;
  std::unique_ptr<updater::sim::TrackerHost> host_;
};

// The rows of a CSV file as RFC 4180 reads them; each row's fields. complete is false when the
// last row has no line end.
std::vector<std::vector<std::string>> ReadCsv(const std::string& path, bool* complete = nullptr);

}  // namespace station_test
