#pragma once
// The program's one window and the owner of the state the rest of the program shares: the
// device list and its lock, the firmware mode, the version of the loaded image, the program
// folder, the driver libraries and the worker dispatcher.
//
// Its operations are split into files by concern:
//   MainForm.cpp             construction, first show, shutdown, timers, window messages
//   MainFormCommandLine.cpp  the command line
//   MainFormLog.cpp          the event log
//   MainFormScan.cpp         the window's side of the scan: merge, device panels, hot-plug
//   MainFormJobs.cpp         job control: write buttons, write jobs and their results
//   MainFormSettings.cpp     the settings file
//   MainFormFirmware.cpp     firmware sources: the embedded image, files, the read buttons
//
// Threads: the window, its controls and every member belong to the main thread, with two
// exceptions: the scan thread reads DevList under DevListLock, and workers reach the main
// thread only through Dispatcher (synchronous calls and end handlers).

#include <QMainWindow>
#include <QMargins>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DataFolders.h"
#include "DevEntry.h"
#include "DeviceChannel.h"
#include "DriverLibraries.h"
#include "FirmwareBlock.h"
#include "FirmwareVersion.h"
#include "LogSink.h"
#include "QtDispatcher.h"
#include "ScanNotices.h"
#include "WriteHost.h"
#include "ui_MainForm.h"

class QWindow;

namespace updater {

class TDialogs;
class THotPlugSource;
class TRightAnchors;
class TReadVersion;
class TWriteThread;

// How the window loads the two driver libraries; tests substitute their own.
struct TLibraryLoaders {
  std::function<std::unique_ptr<TFtdiLibrary>(const std::string& app_dir)> Ftdi = LoadFtdiLibrary;
  std::function<std::unique_ptr<TQlLibrary>(const std::string& app_dir)> Ql = LoadQLLibrary;
};

// Texts of the start-up boxes.
inline constexpr char kFtdiMissingText[] = "Драйвер устройств FTDI не установлен.";
inline constexpr char kQlMissingText[] = "Драйвер устройств QL не установлен.";
inline constexpr char kNoDriverText[] =
    "Перед первым запуском программы подключите устройство к USB и установите драйвер.";

// The controls (Label1, edFWFile, btnFwOpen, ... reLog) come from MainForm.ui as public
// members of Ui::TMainForm, named as in the form.
class TMainForm : public QMainWindow, public Ui::TMainForm {
  Q_OBJECT

 public:
  // args: the command-line arguments after the program name, as raw bytes.
  explicit TMainForm(const std::vector<std::string>& args, QWidget* parent = nullptr);
  ~TMainForm() override;  // runs FormDestroy first

  // --- Shared state ---------------------------------------------------------------------
  std::string FUSBLibName;            // file name of the maker's library, set when loading it
  std::string FBDURL;                 // the BDURL setting
  TFirmwareVersion FFirmwareVersion;  // version and date of the loaded image
  bool FExternFirmware = false;       // file mode: the image comes from the file box
  bool FResourceFirmware = false;     // the loaded image is the embedded one and passed
  std::string FAppPath;               // the executable's folder with a trailing '/'
  TDataFolders FFolders;              // settings and Logs folders, chosen at the first show
  TDevList DevList;                   // connected devices in the order added; owns them
  std::mutex DevListLock;             // guards DevList membership (see above)

  // The driver libraries (null while not loaded) and the channel over them. Set once at
  // first show, before any device can be found; then read-only, so any thread may use them.
  std::unique_ptr<TFtdiLibrary> FtdiLibrary;
  std::unique_ptr<TQlLibrary> QlLibrary;
  TDeviceChannel Channel{nullptr, nullptr};

  // Workers get this; shutdown stops them before the device list goes.
  TQtDispatcher Dispatcher;

  // The running scan, if any (set and cleared by the scan's side of the window).
  TReadVersion* ScanThread = nullptr;
  // What scans have told about devices they cannot use, so that each is told once; used by
  // one scan at a time, outlives them all.
  TScanNotices ScanNotices;

  QTimer DevTimer;     // 100 ms, counting from construction; restarted by DeviceChange
  QTimer RescanTimer;  // 3000 ms, disabled; nothing enables it

  // --- Lifecycle ------------------------------------------------------------------------
  // Start-up sequence; runs once, on the first show (later calls do nothing). An error the first
  // firmware load raises is shown in a box, and the sequence goes on as after a failed load.
  void FormShow();
  // Shutdown sequence; runs once, from the destructor at the latest.
  void FormDestroy();

  // --- Event log (main thread only) -------------------------------------------------------
  // kind: 0 normal (black), 1 error (red), 2 success (green), others normal.
  void LogMsg(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void LogDevMsg(int kind, int32_t serial, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void LogDevLine(int kind, int32_t serial, const std::string& text);
  // A sink for core code that forwards to LogDevLine; run it on the main thread only.
  TLogSink LogSink();

  // --- Settings (MainFormSettings.cpp), firmware buttons (MainFormFirmware.cpp), scan -------
  void LoadSettings();
  void SaveSettings();
  void btnFwLoadClick();
  void btnFwOpenClick();
  bool StartScan();

  // --- Firmware sources (MainFormFirmware.cpp; main thread only) ---------------------------
  // Loads the image of the current mode into blocks (emptied first) and version, shows it in
  // the labels and logs it. A write job reaches it through a synchronous call. An oversize
  // payload throws TFirmwareBlockTooLarge to the caller.
  bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version);
  bool LoadFirmwareFile(TFirmwareBlockList& blocks, TFirmwareVersion& version);
  bool LoadFirmwareResource(TFirmwareBlockList& blocks, TFirmwareVersion& version);

  // --- Job control (MainFormJobs.cpp; main thread only) -----------------------------------
  // Starts a write job for a device that has none ("Прибор уже прошивается" otherwise).
  void StartWrite(TDevEntry& dev);
  // End handler of every write job: shows its result, lets the button be used again and
  // removes the device when it went away during the job.
  void WriteDone(TWriteThread& job);
  // What the jobs call back through; created with the first job.
  std::unique_ptr<TWriteHost> JobHost;

  // --- The window's side of the scan (MainFormScan.cpp) -----------------------------------
  // End handler of a scan: merges its result, then serves a device change that came in while
  // it ran.
  void ScanDone(TReadVersion& scan);
  void CreateDevPanel(TDevEntry& dev);
  // Status line of a device's panel: kind 1 red, 2 green, others the window-text colour.
  void ShowDevMessage(TDevEntry& dev, const std::string& text, int kind);
  bool FRescanPending = false;        // a scan was asked for while one ran
  int FSpoiledRetries = 0;            // scans started since the last good one or device change
  THotPlugSource* HotPlug = nullptr;  // device-change notifications; a child of the window

  // --- Timers -----------------------------------------------------------------------------
  // Starts a scan; a tick that comes before the first show has loaded the driver libraries is
  // served once they are loaded.
  void DevTimerTimer();
  void RescanTimerTimer();

  // --- Seams ------------------------------------------------------------------------------
  TLibraryLoaders Loaders;
  // The dialogs of this window; DefaultDialogs() unless a test sets its own (not owned).
  TDialogs& Dialogs() const { return *dialogs_; }
  void SetDialogs(TDialogs& dialogs) { dialogs_ = &dialogs; }
  // Called with the name of each start-up and shutdown step as it begins; for tests.
  std::function<void(std::string_view step)> OnStep;

 public slots:
  // The system reported a change of device nodes: restart DevTimer's count, so that a burst
  // of notifications ends in one tick.
  void DeviceChange();
  // A second start asked for the window: a minimised window is restored and activated; any
  // other window is left where it is.
  void RestoreRequest();
  // A device panel's write button; the sender is the button (job control).
  void btnWriteClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyCommandLine(const std::vector<std::string>& args);
  // Widens the captions and the image's date and version labels of the firmware-file area to
  // their texts; run after every change of those texts.
  void FitImageLabels();
  void LoadDriverLibraries();
  void CloseAllDevices();
  void AddLogLine(int kind, const std::string& line);
  void WriteLogFile(const std::string& line);
  // Tells in the view, once until the file is written again, why lines miss the log file.
  void LogFileFailed(const std::string& what);
  void Step(std::string_view name);
  // The placement from the settings file, applied again once the window manager's frame is
  // known (MainFormSettings.cpp).
  void ApplyStoredPlacement(const QMargins& frame);
  static std::optional<QMargins> FrameOf(const QWindow* window);
  QRect OuterGeometry() const;
  void TracePlacement() const;

  struct TStoredPlacement {
    int left = -1;  // outer values to reach; -1: the axis is left as it is
    int top = -1;
    int width = -1;
    int height = -1;
    bool pending = false;  // following the frame
    QRect inner;           // the inner geometry last set for it; any other is someone else's
    QMargins frame;        // the frame it was set for
  };
  TStoredPlacement stored_placement_;

  TDialogs* dialogs_;
  TRightAnchors* file_anchors_ = nullptr;  // of GroupBox1's controls; a child of GroupBox1
  bool form_shown_ = false;
  bool libraries_loaded_ = false;          // the first show has loaded the driver libraries
  bool scan_waits_for_libraries_ = false;  // DevTimer ticked before they were loaded
  bool form_destroyed_ = false;
  bool log_file_failed_ = false;
};

// The one main window of the running program (null before it exists and after it is gone).
extern TMainForm* MainForm;

}  // namespace updater
