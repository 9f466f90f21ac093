#pragma once
// Tells the session that the machine's device nodes changed, so that it rescans: the
// kernel's device events of the usb and tty subsystems (libudev), and changes in the
// directories where the driver libraries find their devices. A directory that does not exist
// yet is awaited by watching its nearest existing parent.
//
// Main thread only: both sources are served by the Qt event loop.

#include <QFileSystemWatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>

struct udev;
struct udev_monitor;

namespace updater {

class THotPlugSource : public QObject {
  Q_OBJECT

 public:
  // kernel_events false leaves out the kernel's device events (tests that count changes).
  explicit THotPlugSource(const QStringList& directories, bool kernel_events = true,
                          QObject* parent = nullptr);
  ~THotPlugSource() override;

  // The maker's library's device directory ($ZIZUZ_DEVICE_DIR, default /dev/serial/by-id) and,
  // when set, the stand-in D2XX's ($FTD2XX_SIM_DIR).
  static QStringList DeviceDirectories();

  // False when the kernel's device events could not be subscribed to (e.g. in a container);
  // the directory watch works regardless.
  bool HasKernelEvents() const { return notifier_ != nullptr; }
  // What is being watched for each directory: itself, or its nearest existing parent.
  QStringList WatchedPaths() const;

 signals:
  void Changed();

 private:
  void OpenKernelEvents();
  void OnKernelEvent();
  void OnDirectoryChanged(const QString& path);
  // Watches each directory, or its nearest existing parent; true when a directory appeared or
  // vanished since the last call.
  bool Rewatch();

  QStringList directories_;
  QStringList present_;  // those of directories_ that existed at the last Rewatch
  QFileSystemWatcher watcher_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace updater
