// veltorium-station: the headless flashing station. Parses the command line, takes the
// package's instance lock (shared with the window), runs the station and returns its exit code.

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "CrashReport.h"
#include "DataFolders.h"
#include "InstanceLock.h"
#include "Station.h"
#include "TerminationSignals.h"

namespace {

constexpr char kDescription[] =
    "Flashes Veltorium trackers without a window, several at once.\n"
    "\n"
    "Commands:\n"
    "  list    one scan, then every tracker found\n"
    "  flash   flash the trackers found (or those named by --serial); with --watch every\n"
    "          tracker plugged in, until SIGINT or SIGTERM\n"
    "\n"
    "Exit codes: 0 every chosen tracker flashed; 1 a job failed; 2 bad usage or a report\n"
    "file that cannot be written; 3 the image cannot be loaded; 4 a named tracker never\n"
    "appeared (or none was found); 5 another program (the updater or a station) holds the\n"
    "trackers.";

int Usage(const QString& text) {
  std::fprintf(stderr, "veltorium-station: %s\nTry 'veltorium-station --help'.\n",
               qPrintable(text));
  return updater::kStationUsage;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("veltorium-station"));
  QCoreApplication::setApplicationVersion(QStringLiteral(UPDATER_VERSION));
  // A crash leaves a report beside the logs; one the last run left is named here, once.
  const std::string app_path = QCoreApplication::applicationDirPath().toStdString() + '/';
  const std::string logs = updater::DataFoldersFor(app_path).logs;
  updater::crash::PrintUnseenReports(logs, "veltorium-station");
  updater::crash::Install("veltorium-station", logs);

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(kDescription));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("list or flash"));
  const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("JSON Lines on stdout"));
  const QCommandLineOption image(QStringLiteral("image"),
                                 QStringLiteral("flash: the image file (default: the embedded)"),
                                 QStringLiteral("FILE"));
  const QCommandLineOption serial(QStringLiteral("serial"),
                                  QStringLiteral("flash: only this tracker (may be repeated)"),
                                  QStringLiteral("N"));
  const QCommandLineOption watch(QStringLiteral("watch"),
                                 QStringLiteral("flash: every tracker plugged in, until a signal"));
  const QCommandLineOption again(
      QStringLiteral("again"),
      QStringLiteral("flash --watch: a re-plugged tracker is flashed again"));
  const QCommandLineOption report(QStringLiteral("report"),
                                  QStringLiteral("flash: append one CSV row per job to FILE"),
                                  QStringLiteral("FILE"));
  const QCommandLineOption wait(
      QStringLiteral("wait"),
      QStringLiteral("flash: seconds to wait for named or re-plugged trackers (default 60)"),
      QStringLiteral("SECONDS"), QStringLiteral("60"));
  parser.addOptions({json, image, serial, watch, again, report, wait});

  if (!parser.parse(QCoreApplication::arguments())) {
    return Usage(parser.errorText());
  }
  if (parser.isSet(QStringLiteral("help"))) {
    std::fputs(qPrintable(parser.helpText()), stdout);
    return 0;
  }
  if (parser.isSet(QStringLiteral("version"))) {
    std::printf("veltorium-station %s\n", UPDATER_VERSION);
    return 0;
  }

  updater::TStationOptions options;
  const QStringList words = parser.positionalArguments();
  if (words.size() != 1 ||
      (words[0] != QLatin1String("list") && words[0] != QLatin1String("flash"))) {
    return Usage(QStringLiteral("give one command: list or flash"));
  }
  options.List = words[0] == QLatin1String("list");
  options.Json = parser.isSet(json);
  if (options.List) {
    for (const QCommandLineOption* option : {&image, &serial, &watch, &again, &report, &wait}) {
      if (parser.isSet(*option)) {
        return Usage(QStringLiteral("--%1 belongs to flash").arg(option->names().first()));
      }
    }
  }
  options.Watch = parser.isSet(watch);
  options.Again = parser.isSet(again);
  if (options.Again && !options.Watch) {
    return Usage(QStringLiteral("--again needs --watch"));
  }
  options.Image = parser.value(image);
  options.Report = parser.value(report);
  if (parser.isSet(image) && options.Image.isEmpty()) {
    return Usage(QStringLiteral("--image needs a file name"));
  }
  if (parser.isSet(report) && options.Report.isEmpty()) {
    return Usage(QStringLiteral("--report needs a file name"));
  }
  for (const QString& text : parser.values(serial)) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value <= 0) {
      return Usage(QStringLiteral("bad serial number \"%1\"").arg(text));
    }
    options.Serials.insert(value);
  }
  bool wait_ok = false;
  options.WaitSeconds = parser.value(wait).toInt(&wait_ok);
  if (!wait_ok || options.WaitSeconds <= 0 || options.WaitSeconds > 86400) {
    return Usage(QStringLiteral("bad --wait \"%1\"").arg(parser.value(wait)));
  }

  // One program at a time on the trackers: the window or a station.
  updater::TInstanceLock lock;
  switch (lock.TryLock()) {
    case updater::TInstanceLock::TLock::Owned:
      break;
    case updater::TInstanceLock::TLock::Held: {
      QString holder;
      qint64 pid = 0;
      if (lock.Holder(holder, pid)) {
        std::fprintf(stderr, "veltorium-station: %s (pid %lld) holds the trackers\n",
                     qPrintable(holder), static_cast<long long>(pid));
      } else {
        std::fprintf(stderr, "veltorium-station: another program holds the trackers (%s)\n",
                     qPrintable(lock.LockPath()));
      }
      return updater::kStationLocked;
    }
    case updater::TInstanceLock::TLock::Unavailable:
      std::fprintf(stderr, "veltorium-station: cannot create %s; running unguarded\n",
                   qPrintable(lock.LockPath()));
      break;
  }

  const auto style = options.Json                   ? updater::TStationOutput::TStyle::Json
                     : ::isatty(STDOUT_FILENO) != 0 ? updater::TStationOutput::TStyle::Live
                                                    : updater::TStationOutput::TStyle::Plain;
  updater::TStation station(std::move(options), style);
  if (const std::optional<int> refused = station.Start()) {
    return *refused;
  }
  updater::TTerminationSignals termination([&station] { station.Signal(); });
  if (!station.Result()) {
    app.exec();
  }
  return station.Result().value_or(updater::kStationJobFailed);
}
