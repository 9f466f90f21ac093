// The settings file ZUDUDerovo.ini in the settings folder (beside the executable, or the user's
// own for an installed copy): read once at the first show, written once at shutdown.
//
// Threads: main thread only (the values live in the window's controls).

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "MainForm.h"
#include "SettingsFile.h"
#include "SettingsValues.h"
#include "TextFormat.h"

namespace updater {

namespace {

constexpr char kCommon[] = "COMMON";
constexpr char kFiles[] = "FILES";
constexpr char kMainFormKey[] = "MainForm";
constexpr char kBdUrlKey[] = "BDURL";
constexpr char kLastFileKey[] = "LastFile";
constexpr char kDefaultBdUrl[] = "http://test.veltorium.example/prog.ashx";

// The outer geometry as the window sees it after each move and resize: what a shutdown at
// that moment would save. Off unless asked for (QT_LOGGING_RULES).
Q_LOGGING_CATEGORY(lcPlacement, "updater.placement", QtInfoMsg)

// A frame as a window manager can draw it; while it is still framing the window the system may
// report nonsense (negative margins, taken from a frame not yet sized).
bool IsSane(const QMargins& frame) {
  return frame.left() >= 0 && frame.top() >= 0 && frame.right() >= 0 && frame.bottom() >= 0;
}

// The area of all monitors together.
QRect Desktop() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->virtualGeometry() : QRect();
}

}  // namespace

void TMainForm::LoadSettings() {
  // Made now rather than at shutdown, so that a folder that cannot be made is told while
  // someone is looking; the settings of this run are then the defaults and stay unsaved.
  const TDataFolders& folders = session_.Folders();
  std::string reason;
  if (!MakeFolder(folders.settings, reason)) {
    session_.Log().AddFormatted(kLogError, 0,
                                "Настройки не будут сохранены: не удалось создать папку %s (%s)",
                                folders.settings.c_str(), reason.c_str());
  }
  TSettingsFile file(folders.settings + kSettingsFileName);
  file.Read();  // an unreadable file reads as empty, like a missing one

  const std::string placement = file.Value(kCommon, kMainFormKey, "");
  FBDURL = file.Value(kCommon, kBdUrlKey, kDefaultBdUrl);
  // Adding to an empty list would make the first item current and put it into the box.
  const QString typed = edFWFile->currentText();
  for (const std::string& name : RecentFiles(file)) {
    edFWFile->addItem(QString::fromStdString(name));
  }
  edFWFile->setCurrentIndex(-1);
  edFWFile->setEditText(
      typed.isEmpty() ? QString::fromStdString(file.Value(kCommon, kLastFileKey, "")) : typed);

  const QRect desktop = Desktop();
  const std::optional<TStoredForm> form = ParseMainFormValue(
      placement, {desktop.width(), desktop.height(), minimumWidth(), minimumHeight()});
  if (!form) {
    return;
  }
  stored_placement_ = {};
  stored_placement_.left = form->Left;
  stored_placement_.top = form->Top;
  stored_placement_.width = form->Width;
  stored_placement_.height = form->Height;
  if (stored_placement_.left >= 0 || stored_placement_.top >= 0 || stored_placement_.width >= 0 ||
      stored_placement_.height >= 0) {
    ApplyStoredPlacement(FrameOf(windowHandle()).value_or(QMargins()));
  }
  if (form->AutoWrite >= 0) {
    cbAutoWrite->setChecked(form->AutoWrite != 0);
  }
  if (form->LogHeight >= 0) {
    QList<int> sizes = Splitter1->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    const int log_height = std::min(form->LogHeight, total);
    Splitter1->setSizes({total - log_height, log_height});
  }
  if (form->WriteLog >= 0) {
    cbWritelogToFile->setChecked(form->WriteLog != 0);
  }
}

// A window manager that draws a frame reports it only once it has framed the window, after
// the first show: until then the frame counts as nothing, and a placement applied then puts
// the inner corner where the frame's belongs and makes the inner size the outer one, so that
// the window would grow and climb by its frame at every start. So the stored placement is
// applied again whenever the frame turns out other than it was taken to be, for as long as
// nobody else (the user, the window manager) has moved or sized the window. Without a frame
// the first application is the last one that changes anything.
void TMainForm::ApplyStoredPlacement(const QMargins& frame) {
  QWindow* window = windowHandle();
  QRect inner = geometry();
  if (stored_placement_.width >= 0) {
    inner.setWidth(stored_placement_.width - frame.left() - frame.right());
  }
  if (stored_placement_.height >= 0) {
    inner.setHeight(stored_placement_.height - frame.top() - frame.bottom());
  }
  if (stored_placement_.left >= 0) {
    inner.moveLeft(stored_placement_.left + frame.left());
  }
  if (stored_placement_.top >= 0) {
    inner.moveTop(stored_placement_.top + frame.top());
  }
  if (stored_placement_.left < 0 && stored_placement_.top < 0) {
    resize(inner.size());  // the system still chooses where the window goes
  } else if (inner != geometry()) {
    setGeometry(inner);
  }
  stored_placement_.inner = geometry();  // within the window's own limits
  stored_placement_.asked.push_back(stored_placement_.inner);
  stored_placement_.frame = frame;
  stored_placement_.pending = window != nullptr;
  if (stored_placement_.pending) {
    window->installEventFilter(this);
  }
}

// The frame as the window system reports it; none while the report is nonsense, which the
// system keeps until the window is next configured.
std::optional<QMargins> TMainForm::FrameOf(const QWindow* window) {
  if (window == nullptr) {
    return QMargins();
  }
  const QMargins frame = window->frameMargins();
  if (!IsSane(frame)) {
    return std::nullopt;
  }
  return frame;
}

// What a shutdown now would save: the inner geometry grown by the frame. The window system's
// report of the frame lags and may already be that of a closed window, which has none; then
// the frame the window last learnt, or the last sane one seen, stands. A late echo of an
// earlier request, not yet put right, is nobody's choice: the placement asked for last stands,
// or a shutdown in that moment would save a window moved or sized by its own frame.
QRect TMainForm::OuterGeometry() const {
  const QRect inner = geometry();
  if (stored_placement_.pending && IsEchoOfPlacement(inner)) {
    return stored_placement_.inner.marginsAdded(stored_placement_.frame);
  }
  const QRect outer = frameGeometry();
  const QMargins learnt(inner.left() - outer.left(), inner.top() - outer.top(),
                        outer.right() - inner.right(), outer.bottom() - inner.bottom());
  for (const QMargins& frame :
       {FrameOf(windowHandle()).value_or(QMargins()), learnt, stored_placement_.frame}) {
    if (!frame.isNull() && IsSane(frame)) {
      return inner.marginsAdded(frame);
    }
  }
  return inner;
}

// A window manager busy framing the window may answer an earlier request of ours after the
// last one, and leave the window at the size (or place) asked for before the frame was
// known. That is nobody's choice, so it is put right once the window has been quiet a moment,
// a few times at most in case a manager insists.
bool TMainForm::IsEchoOfPlacement(const QRect& inner) const {
  const TStoredPlacement& p = stored_placement_;
  if (inner == p.inner) {
    return false;
  }
  const auto asked = [&p](auto same) { return std::any_of(p.asked.begin(), p.asked.end(), same); };
  return asked([&](const QRect& r) { return r.size() == inner.size(); }) &&
         asked([&](const QRect& r) { return r.topLeft() == inner.topLeft(); });
}

void TMainForm::PutPlacementRight() {
  QWindow* window = windowHandle();
  TStoredPlacement& p = stored_placement_;
  if (!p.pending || window == nullptr || p.echoes_left <= 0) {
    return;
  }
  if (IsEchoOfPlacement(geometry())) {
    --p.echoes_left;
    ApplyStoredPlacement(FrameOf(window).value_or(p.frame));
  } else if (IsEchoOfPlacement(window->geometry())) {
    // The echo reached the window but not the widget, which holds the placement already and
    // would not ask for it again.
    --p.echoes_left;
    window->setGeometry(p.inner);
  }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (stored_placement_.pending && watched == windowHandle() &&
      (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
       event->type() == QEvent::Expose)) {
    if (IsEchoOfPlacement(geometry()) || IsEchoOfPlacement(windowHandle()->geometry())) {
      placement_settle_.start();
    } else if (geometry() != stored_placement_.inner) {
      stored_placement_.pending = false;  // moved or sized by someone else since
      watched->removeEventFilter(this);
    } else if (const auto frame = FrameOf(windowHandle());
               frame && !frame->isNull() && *frame != stored_placement_.frame) {
      ApplyStoredPlacement(*frame);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  TracePlacement();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  TracePlacement();
}

void TMainForm::TracePlacement() const {
  if (lcPlacement().isDebugEnabled()) {
    const QRect outer = OuterGeometry();
    qCDebug(lcPlacement, "placement: outer %d,%d,%d,%d", outer.x(), outer.y(), outer.width(),
            outer.height());
  }
}

// Without a program folder there was no first show and nothing was read; writing would only
// replace the user's settings with the design's.
void TMainForm::SaveSettings() {
  const TDataFolders& folders = session_.Folders();
  if (session_.AppPath().empty() || folders.settings.empty()) {
    return;
  }
  TSettingsFile file(folders.settings + kSettingsFileName);
  if (!file.Read()) {
    return;  // not a file we may write over; nobody is told, the shutdown goes on
  }
  const QRect outer = OuterGeometry();
  file.SetValue(kCommon, kMainFormKey,
                Format("%d,%d,%d,%d,%d,%d,%d", outer.x(), outer.y(), outer.width(), outer.height(),
                       cbAutoWrite->isChecked() ? 1 : 0, reLog->height(),
                       cbWritelogToFile->isChecked() ? 1 : 0));
  file.SetValue(kCommon, kLastFileKey, edFWFile->currentText().toStdString());
  for (int i = 0; i < edFWFile->count(); ++i) {
    file.SetValue(kFiles, std::to_string(i).c_str(), edFWFile->itemText(i).toStdString());
  }
  file.Write();  // a failure leaves the old file; the shutdown goes on
}

}  // namespace updater
