// The settings file ZUDUDerovo.ini in the settings folder (beside the executable, or the user's
// own for an installed copy): read once at the first show, written once at shutdown.
//
// Threads: main thread only (the values live in the window's controls).

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <array>
#include <string>

#include "MainForm.h"
#include "ScanDecimal.h"
#include "SettingsFile.h"
#include "TextFormat.h"

namespace updater {

namespace {

constexpr char kCommon[] = "COMMON";
constexpr char kFiles[] = "FILES";
constexpr char kMainFormKey[] = "MainForm";
constexpr char kBdUrlKey[] = "BDURL";
constexpr char kLastFileKey[] = "LastFile";
constexpr char kMainFormPattern[] = "%d,%d,%d,%d,%d,%d,%d";
constexpr char kDefaultBdUrl[] = "http://test.veltorium.example/prog.ashx";
// A position this close to the desktop's right or bottom edge would leave the window out of
// reach.
constexpr int kEdgeReserve = 100;

// The area of all monitors together.
QRect Desktop() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->virtualGeometry() : QRect();
}

}  // namespace

void TMainForm::LoadSettings() {
  // Made now rather than at shutdown, so that a folder that cannot be made is told while
  // someone is looking; the settings of this run are then the defaults and stay unsaved.
  std::string reason;
  if (!MakeFolder(FFolders.settings, reason)) {
    LogMsg(kLogError, "Настройки не будут сохранены: не удалось создать папку %s (%s)",
           FFolders.settings.c_str(), reason.c_str());
  }
  TSettingsFile file(FFolders.settings + kSettingsFileName);
  file.Read();  // an unreadable file reads as empty, like a missing one

  const std::string placement = file.Value(kCommon, kMainFormKey, "");
  FBDURL = file.Value(kCommon, kBdUrlKey, kDefaultBdUrl);
  // Adding to an empty list would make the first item current and put it into the box.
  const QString typed = edFWFile->currentText();
  for (const std::string& key : file.Keys(kFiles)) {
    const std::string name = file.Value(kFiles, key.c_str(), "");
    if (!name.empty()) {
      edFWFile->addItem(QString::fromStdString(name));
    }
  }
  edFWFile->setCurrentIndex(-1);
  edFWFile->setEditText(
      typed.isEmpty() ? QString::fromStdString(file.Value(kCommon, kLastFileKey, "")) : typed);

  std::array<int32_t, 7> v;
  v.fill(-1);
  if (ScanDecimals(placement, kMainFormPattern, v) < 4) {
    return;
  }
  const QRect desktop = Desktop();
  // The stored position is the outer one, as move() takes it.
  QPoint position = frameGeometry().topLeft();
  if (v[0] >= 0 && v[0] < desktop.width() - kEdgeReserve) {
    position.setX(v[0]);
  }
  if (v[1] >= 0 && v[1] < desktop.height() - kEdgeReserve) {
    position.setY(v[1]);
  }
  if (position != frameGeometry().topLeft()) {
    move(position);
  }
  // The stored sizes are the outer ones; like the platform, no window grows past the desktop.
  const QSize frame = frameGeometry().size() - size();
  if (v[2] >= 0) {
    resize(std::min(v[2], std::max(desktop.width(), minimumWidth())) - frame.width(), height());
  }
  if (v[3] >= 0) {
    resize(width(), std::min(v[3], std::max(desktop.height(), minimumHeight())) - frame.height());
  }
  if (v[4] >= 0) {
    cbAutoWrite->setChecked(v[4] != 0);
  }
  if (v[5] >= 0) {
    QList<int> sizes = Splitter1->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    const int log_height = std::min(v[5], total);
    Splitter1->setSizes({total - log_height, log_height});
  }
  if (v[6] >= 0) {
    cbWritelogToFile->setChecked(v[6] != 0);
  }
}

// Without a program folder there was no first show and nothing was read; writing would only
// replace the user's settings with the design's.
void TMainForm::SaveSettings() {
  if (FAppPath.empty() || FFolders.settings.empty()) {
    return;
  }
  TSettingsFile file(FFolders.settings + kSettingsFileName);
  if (!file.Read()) {
    return;  // not a file we may write over; nobody is told, the shutdown goes on
  }
  const QRect outer = frameGeometry();
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
