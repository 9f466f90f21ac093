#include "MainForm.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QShowEvent>
#include <algorithm>

#include "CrashReportDialog.h"
#include "Dialogs.h"
#include "FormFont.h"
#include "LogView.h"
#include "RightAnchors.h"
#include "SettingsFile.h"
#include "SingleInstance.h"
#include "UpdaterApplication.h"

namespace updater {

TMainForm* MainForm = nullptr;

namespace {

constexpr int kDropDownWidth = 500;
constexpr int kDeviceAreaHeight = 172;
constexpr int kLogHeight = 165;
// The form's room between the version caption's right edge and the version label: 24 between
// the two, 101 from the caption's right edge to the label's.
constexpr int kVersionCaptionGap = 24;
constexpr int kVersionCaptionToValueRight = 101;

// As wide as its text, and never narrower than the form made it (its minimum width).
int FittedWidth(const QLabel* label) {
  return std::max(label->minimumWidth(), label->sizeHint().width());
}

}  // namespace

TMainForm::TMainForm(const std::vector<std::string>& args, QWidget* parent)
    : QMainWindow(parent), dialogs_(&DefaultDialogs()) {
  setupUi(this);
  UseFormFont(this);
  // Texts from files and devices are shown as they are, never as markup.
  for (QLabel* label : {lblFirmwDate, lblFileVer}) {
    label->setTextFormat(Qt::PlainText);
  }
  for (QLabel* label : {Label1, Label5, lblFirmwDate, Label2, lblFileVer}) {
    label->setMinimumWidth(label->width());
  }

  // Inside the firmware-file box the controls sit where the form put them; these follow the
  // box's right edge as the window is resized.
  file_anchors_ = new TRightAnchors(GroupBox1, GroupBox1->width());
  file_anchors_->Stretch(edFWFile);
  for (QWidget* control : {static_cast<QWidget*>(btnFwOpen), static_cast<QWidget*>(btnFwLoad),
                           static_cast<QWidget*>(Label2), static_cast<QWidget*>(lblFileVer),
                           static_cast<QWidget*>(cbWritelogToFile)}) {
    file_anchors_->Follow(control);
  }
  FitImageLabels();
  edFWFile->setCompleter(nullptr);

  // The log keeps its height when the window is resized; the device area takes the rest.
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
  Splitter1->setSizes({kDeviceAreaHeight, kLogHeight});
  DevPanelLayout->setAlignment(Qt::AlignTop);
  PrepareLogView(*reLog);
  placement_settle_.setSingleShot(true);
  placement_settle_.setInterval(300);
  connect(&placement_settle_, &QTimer::timeout, this, &TMainForm::PutPlacementRight);

  connect(btnFwLoad, &QPushButton::clicked, this, [this] { btnFwLoadClick(); });
  connect(btnFwOpen, &QPushButton::clicked, this, [this] { btnFwOpenClick(); });
  // The session's choices follow the controls, whoever sets them (the user, the settings).
  connect(cbAutoWrite, &QCheckBox::toggled, &session_, &TUpdaterSession::SetAutoWrite);
  connect(cbWritelogToFile, &QCheckBox::toggled, &session_, &TUpdaterSession::SetLogToFile);
  connect(edFWFile, &QComboBox::currentTextChanged, &session_, &TUpdaterSession::SetImageFile);
  session_.SetAutoWrite(cbAutoWrite->isChecked());
  session_.SetLogToFile(cbWritelogToFile->isChecked());

  connect(&session_.Log(), &TEventLog::Line, this, &TMainForm::ShowLogLine);
  connect(&session_, &TUpdaterSession::DeviceAdded, this, &TMainForm::AddPanel);
  connect(&session_, &TUpdaterSession::DeviceChanged, this, &TMainForm::ShowStatus);
  connect(&session_, &TUpdaterSession::JobProgress, this, &TMainForm::ShowProgress);
  connect(&session_, &TUpdaterSession::DeviceRemoved, this, &TMainForm::RemovePanel);
  connect(&session_, &TUpdaterSession::ImageLoaded, this, &TMainForm::ShowImageVersion);

  MainForm = this;
  ApplyCommandLine(args);
}

TMainForm::~TMainForm() {
  FormDestroy();
  if (MainForm == this) {
    MainForm = nullptr;
  }
}

void TMainForm::FitImageLabels() {
  for (QLabel* label : {Label1, Label5, lblFirmwDate}) {
    label->resize(FittedWidth(label), label->height());
  }
  // The version is right-aligned against the box's edge and grows to the left; its caption
  // keeps the form's place unless a long version needs the room, and then moves left with it.
  const QRect version = lblFileVer->geometry();
  const int version_width = FittedWidth(lblFileVer);
  lblFileVer->setGeometry(version.right() + 1 - version_width, version.y(), version_width,
                          version.height());
  const QRect caption = Label2->geometry();
  const int caption_right = std::min(version.right() + 1 - kVersionCaptionToValueRight,
                                     lblFileVer->x() - kVersionCaptionGap);
  const int caption_width = FittedWidth(Label2);
  Label2->setGeometry(caption_right - caption_width, caption.y(), caption_width, caption.height());
  file_anchors_->Retake(lblFileVer);
  file_anchors_->Retake(Label2);
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) {
    FormShow();
  }
}

void TMainForm::Step(std::string_view name) {
  if (OnStep) {
    OnStep(name);
  }
}

void TMainForm::FormShow() {
  if (form_shown_) {
    return;
  }
  form_shown_ = true;

  // The folder of the executable itself: a launcher link elsewhere is followed.
  const std::string app_path = QCoreApplication::applicationDirPath().toStdString() + '/';
  session_.SetFolders(app_path, WindowDataFolders(app_path));
  Step("LoadSettings");
  LoadSettings();
  // The last run's crash, before this run's own boxes.
  ShowUnseenCrashReport(Dialogs(), session_.Folders().logs);
  Step("btnFwLoadClick");
  try {
    btnFwLoadClick();
  } catch (...) {
    // The box a press of the read button would give (an oversize image). The start-up goes on
    // without an image, as after any failed load: a window without its libraries would never
    // find a tracker.
    Dialogs().Error(CurrentExceptionText());
  }
  edFWFile->view()->setMinimumWidth(kDropDownWidth);

  // Both libraries are loaded before the first box is shown: a scan may run while a box is open.
  session_.LoadDriverLibraries();
  if (!session_.HasFtdiLibrary()) {
    Dialogs().Error(QString::fromUtf8(kFtdiMissingText));
  }
  if (!session_.HasQlLibrary()) {
    Dialogs().Error(QString::fromUtf8(kQlMissingText));
  }
  if (!session_.HasFtdiLibrary() && !session_.HasQlLibrary()) {
    Dialogs().Error(QString::fromUtf8(kNoDriverText));
    // Closed once this handler has returned, which ends the application.
    Step("close");
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    return;
  }

  const bool file_mode = session_.FileMode();
  if (!file_mode) {
    edFWFile->clearEditText();
  }
  edFWFile->setVisible(file_mode);
  btnFwLoad->setVisible(file_mode);
  btnFwOpen->setVisible(file_mode);
}

void TMainForm::FormDestroy() {
  if (form_destroyed_) {
    return;
  }
  form_destroyed_ = true;
  Step("SaveSettings");
  SaveSettings();
  // No worker may touch the session's list, its log or a panel after this point.
  Step("Shutdown");
  session_.StopWorkers();
  Step("CloseDevices");
  session_.CloseAllDevices();
}

void TMainForm::RestoreRequest() {
  if (!isMinimized()) {
    qCDebug(lcInstance) << "restore request: window not minimised, left alone";
    return;
  }
  QWidget* focus = focusWidget();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
  if (focus != nullptr) {
    focus->setFocus();
  }
  qCDebug(lcInstance) << "restore request: window restored";
}

}  // namespace updater
