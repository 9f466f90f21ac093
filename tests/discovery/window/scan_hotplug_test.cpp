// The device-change source's directory watch: a device directory that does not exist yet is
// awaited through its parent, and every entry that comes or goes in it is reported.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

#include "HotPlugSource.h"

namespace {

using updater::THotPlugSource;

// Serves the event loop until pred holds; false when it never did.
bool Eventually(const std::function<bool()>& pred) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > 20000) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

TEST(HotPlugSource, AwaitsTheDeviceDirectoryAndReportsEveryEntry) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString parent = root.path() + "/serial";
  const QString target = parent + "/by-id";
  THotPlugSource source({target}, /*kernel_events=*/false);
  int changes = 0;
  QObject::connect(&source, &THotPlugSource::Changed, [&] { ++changes; });
  EXPECT_EQ(source.WatchedPaths(), QStringList{root.path()});

  ASSERT_TRUE(QDir().mkdir(parent));
  ASSERT_TRUE(Eventually([&] { return source.WatchedPaths() == QStringList{parent}; }));

  ASSERT_TRUE(QDir().mkdir(target));
  ASSERT_TRUE(Eventually([&] { return changes == 1; })) << "the directory appeared";
  EXPECT_EQ(source.WatchedPaths(), QStringList{target});

  const QString entry = target + "/usb-Veltorium_Tracker_42-if00";
  ASSERT_EQ(symlink("/dev/null", entry.toLocal8Bit().constData()), 0);
  ASSERT_TRUE(Eventually([&] { return changes >= 2; })) << "a device was plugged";
  const int after_plug = changes;

  ASSERT_TRUE(QFile::remove(entry));
  ASSERT_TRUE(Eventually([&] { return changes > after_plug; })) << "a device was unplugged";
  const int after_unplug = changes;

  ASSERT_TRUE(QDir().rmdir(target));
  ASSERT_TRUE(Eventually([&] { return changes > after_unplug; })) << "the directory vanished";
  EXPECT_TRUE(Eventually([&] { return source.WatchedPaths() == QStringList{parent}; }));

  ASSERT_TRUE(QDir().mkdir(target));
  EXPECT_TRUE(Eventually([&] { return source.WatchedPaths() == QStringList{target}; }))
      << "watched again once it is back";
}

TEST(HotPlugSource, DeviceDirectoriesComeFromTheEnvironment) {
  qputenv("ZIZUZ_DEVICE_DIR", "/tmp/zz-devices");
  qunsetenv("FTD2XX_SIM_DIR");
  EXPECT_EQ(THotPlugSource::DeviceDirectories(), QStringList{"/tmp/zz-devices"});
  qputenv("FTD2XX_SIM_DIR", "/tmp/ft-devices");
  EXPECT_EQ(THotPlugSource::DeviceDirectories(),
            (QStringList{"/tmp/zz-devices", "/tmp/ft-devices"}));
  qunsetenv("ZIZUZ_DEVICE_DIR");
  qunsetenv("FTD2XX_SIM_DIR");
  EXPECT_EQ(THotPlugSource::DeviceDirectories(), QStringList{"/dev/serial/by-id"});
}

}  // namespace
