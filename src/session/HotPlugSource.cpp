#include "HotPlugSource.h"

#include <libudev.h>

#include <QDir>
#include <QFileInfo>

namespace updater {

namespace {

QString NearestExisting(const QString& path) {
  QString candidate = QDir::cleanPath(QDir(path).absolutePath());
  while (!QFileInfo(candidate).isDir()) {
    const QString parent = QFileInfo(candidate).path();
    if (parent == candidate) {
      break;
    }
    candidate = parent;
  }
  return candidate;
}

}  // namespace

THotPlugSource::THotPlugSource(const QStringList& directories, bool kernel_events, QObject* parent)
    : QObject(parent) {
  for (const QString& dir : directories) {
    directories_ << QDir::cleanPath(QDir(dir).absolutePath());
  }
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
          &THotPlugSource::OnDirectoryChanged);
  Rewatch();
  if (kernel_events) {
    OpenKernelEvents();
  }
}

THotPlugSource::~THotPlugSource() {
  delete notifier_;
  if (monitor_ != nullptr) {
    udev_monitor_unref(monitor_);
  }
  if (udev_ != nullptr) {
    udev_unref(udev_);
  }
}

QStringList THotPlugSource::DeviceDirectories() {
  QStringList dirs;
  const QString zizuz = qEnvironmentVariable("ZIZUZ_DEVICE_DIR");
  dirs << (zizuz.isEmpty() ? QStringLiteral("/dev/serial/by-id") : zizuz);
  const QString ftdi = qEnvironmentVariable("FTD2XX_SIM_DIR");
  if (!ftdi.isEmpty()) {
    dirs << ftdi;
  }
  return dirs;
}

QStringList THotPlugSource::WatchedPaths() const {
  return watcher_.directories();
}

void THotPlugSource::OpenKernelEvents() {
  udev_ = udev_new();
  if (udev_ == nullptr) {
    return;
  }
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    return;
  }
  const int fd = udev_monitor_get_fd(monitor_);
  if (fd < 0) {
    return;
  }
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &THotPlugSource::OnKernelEvent);
}

void THotPlugSource::OnKernelEvent() {
  // Drain what is queued; any event of the two subsystems is a change of device nodes.
  bool any = false;
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    udev_device_unref(device);
    any = true;
  }
  if (any) {
    emit Changed();
  }
}

void THotPlugSource::OnDirectoryChanged(const QString& path) {
  const bool appeared_or_vanished = Rewatch();
  if (appeared_or_vanished || directories_.contains(QDir::cleanPath(path))) {
    emit Changed();
  }
}

bool THotPlugSource::Rewatch() {
  QStringList wanted;
  QStringList present;
  for (const QString& dir : directories_) {
    const QString watch = NearestExisting(dir);
    if (watch == dir) {
      present << dir;
    }
    if (!wanted.contains(watch)) {
      wanted << watch;
    }
  }
  const QStringList watched = watcher_.directories();
  for (const QString& old : watched) {
    if (!wanted.contains(old)) {
      watcher_.removePath(old);
    }
  }
  for (const QString& path : wanted) {
    if (!watched.contains(path)) {
      watcher_.addPath(path);
    }
  }
  const bool changed = present != present_;
  present_ = present;
  return changed;
}

}  // namespace updater
