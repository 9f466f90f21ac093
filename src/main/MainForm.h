#pragma once
// The program's one window: a view of the updater session. It shows the image source and its
// version, one panel per listed device, and the event log; its buttons and boxes call the
// session, and the session's signals change what it shows. It also keeps the window's own
// settings (placement, choices) and the start-up and shutdown order.
//
// Its operations are split into files by concern:
//   MainForm.cpp             construction, first show, shutdown, window messages
//   MainFormCommandLine.cpp  the command line
//   MainFormLog.cpp          the event log's view
//   MainFormDevices.cpp      the device panels and their buttons
//   MainFormSettings.cpp     the settings file
//   MainFormFirmware.cpp     firmware sources: the file box, the read and open buttons, labels
//
// Threads: the window, its controls, its panels and the session belong to the main thread;
// workers reach it only through the session's signals, delivered on the main thread.
//
// Ownership: the window owns the session and the panels (by device Id); a panel goes when the
// session drops its device, or with the window.

#include <QMainWindow>
#include <QMargins>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DevPanelGroup.h"
#include "LogView.h"
#include "UpdaterSession.h"
#include "ViewFrames.h"
#include "ui_MainForm.h"

class QWindow;

namespace updater {

class TDialogs;
class TRightAnchors;

// Texts of the start-up boxes.
inline constexpr char kFtdiMissingText[] = "Драйвер устройств FTDI не установлен.";
inline constexpr char kQlMissingText[] = "Драйвер устройств QL не установлен.";
inline constexpr char kNoDriverText[] =
    "Перед первым запуском программы подключите устройство к USB и установите драйвер.";

class TMainForm : public QMainWindow, private Ui::TMainForm {
  Q_OBJECT

 public:
  // args: the command-line arguments after the program name, as raw bytes.
  explicit TMainForm(const std::vector<std::string>& args, QWidget* parent = nullptr);
  ~TMainForm() override;  // runs FormDestroy first

  TUpdaterSession& Session() { return session_; }
  const TUpdaterSession& Session() const { return session_; }
  // The panel of a listed device, or null.
  TFWLoaderDevGroup* Panel(uint64_t id) const;
  // The BDURL setting, kept for the settings file.
  const std::string& BdUrl() const { return FBDURL; }

  // --- Lifecycle ------------------------------------------------------------------------
  // Start-up sequence; runs once, on the first show (later calls do nothing). An error the first
  // firmware load raises is shown in a box, and the sequence goes on as after a failed load.
  void FormShow();
  // Shutdown sequence; runs once, from the destructor at the latest.
  void FormDestroy();

  // --- Firmware buttons (MainFormFirmware.cpp) ----------------------------------------------
  // An oversize image throws out of here on purpose: the application's error box shows it.
  void btnFwLoadClick();
  void btnFwOpenClick();

  // --- Seams ------------------------------------------------------------------------------
  // The dialogs of this window; DefaultDialogs() unless a test sets its own (not owned).
  TDialogs& Dialogs() const { return *dialogs_; }
  void SetDialogs(TDialogs& dialogs) { dialogs_ = &dialogs; }
  // Shows at once the log lines and progress steps gathered for the view's next frame, as the
  // view would within a frame; for tests that read the view.
  void ShowFrameNow() { frames_.ShowNow(); }
  // Called with the name of each start-up and shutdown step as it begins; for tests.
  std::function<void(std::string_view step)> OnStep;

 public slots:
  // A second start asked for the window: a minimised window is restored and activated; any
  // other window is left where it is.
  void RestoreRequest();

 protected:
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyCommandLine(const std::vector<std::string>& args);
  void LoadSettings();
  void SaveSettings();
  // Widens the captions and the image's date and version labels of the firmware-file area to
  // their texts; run after every change of those texts.
  void FitImageLabels();
  void ShowImageVersion(const TFirmwareVersion& version);
  // The event log's view (MainFormLog.cpp).
  void ShowLogLine(int kind, const std::string& line);
  // A frame of the jobs' streams: the lines and progress steps gathered since the last.
  void ShowFrame();
  // The device panels (MainFormDevices.cpp).
  void AddPanel(const TDeviceShown& device);
  void ShowStatus(uint64_t id, const TDeviceStatus& status);
  void ShowProgress(uint64_t id, int percent);
  void RemovePanel(uint64_t id);
  void SetDevAreaHeight();
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
    bool pending = false;      // following the frame
    QRect inner;               // the inner geometry last set for it; any other is someone else's
    QMargins frame;            // the frame it was set for
    std::vector<QRect> asked;  // every inner geometry set for it, this one included
    int echoes_left = 3;       // late echoes of an earlier one still put right
  };
  bool IsEchoOfPlacement(const QRect& inner) const;
  void PutPlacementRight();
  TStoredPlacement stored_placement_;
  QTimer placement_settle_;  // a moment of quiet after a late echo, then PutPlacementRight

  // Declared before the session: the session's last signals (its devices closed) reach them.
  std::map<uint64_t, std::unique_ptr<TFWLoaderDevGroup>> panels_;
  std::vector<TShownLine> frame_lines_;     // log lines gathered for the next frame
  std::map<uint64_t, int> frame_progress_;  // the latest step of each device since the last
  TViewFrames frames_{[this] { ShowFrame(); }};
  TUpdaterSession session_;
  std::string FBDURL;  // the BDURL setting
  TDialogs* dialogs_;
  TRightAnchors* file_anchors_ = nullptr;  // of GroupBox1's controls; a child of GroupBox1
  bool form_shown_ = false;
  bool form_destroyed_ = false;
};

// The one main window of the running program (null before it exists and after it is gone).
extern TMainForm* MainForm;

}  // namespace updater
