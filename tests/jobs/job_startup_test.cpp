// Start-up with a firmware file named on the command line that cannot be used: the window still
// finds the trackers plugged in, and every job fails at its load without writing anything.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <optional>
#include <string>
#include <vector>

#include "EmbeddedImage.h"
#include "FirmwareBlock.h"
#include "form_controls.h"
#include "job_window_rig.h"
#include "scan_rig.h"

namespace jobtest {
namespace {

using namespace updater;
using sim::DriverKind;

const QString kLoadFailed = QString::fromUtf8("Ошибка загрузки прошивки");
const QString kOversize = QString::fromUtf8("Слишком большой размер блока прошивки");

// The tracker is listed, its automatic job ended with code 1, and the job never reached it:
// its flash is as it was.
void ExpectJobFailedAtItsLoad(Window& window, const discovery_test::TrackerRig& trackers,
                              const sim::TrackerConfig& tracker) {
  const int32_t serial = std::stoi(tracker.serial);
  ASSERT_TRUE(Eventually([&] {
    return window.Settled(1) && window.Panel(serial) != nullptr &&
           window.Panel(serial)->lblMessage->text() != QString::fromUtf8("Прибор подключен");
  })) << window.LogLines().join('\n').toStdString();
  const TFWLoaderDevGroup& panel = *window.Panel(serial);
  EXPECT_EQ(panel.lblMessage->text(), QString::fromUtf8("Ошибка 1 при обновлении прошивки"));
  EXPECT_TRUE(panel.btnWrite->isEnabled());
  const QStringList log = window.LogLines();
  const QString prefix = QString::fromUtf8("Прибор %1\t").arg(serial, 7);
  EXPECT_EQ(log.filter(QRegularExpression(
                           QRegularExpression::escape(prefix) +
                           QString::fromUtf8("\\(\\s*\\d+\\)Ошибка 1 при прошивке\\. Последний код "
                                             "ответа прибора 0$")))
                .size(),
            1)
      << log.join('\n').toStdString();
  EXPECT_TRUE(log.filter(QString::fromUtf8("Загружена прошивка")).isEmpty());
  EXPECT_EQ(FormUi(window.Form()).lblFileVer->text(), QString::fromUtf8("Неизвестна"));

  // Only the scan's queries (firmware, boot loader, processor): no erase, write or finish.
  for (const std::string& request : discovery_test::Received(*trackers.Host, tracker.serial)) {
    EXPECT_TRUE(request == "F4" || request == "F5" || request == "F10") << request;
  }
  EXPECT_EQ(trackers.Host->Status(tracker.serial).finish, sim::FinishState::None);
  EXPECT_EQ(trackers.Host->Flash(tracker.serial), tracker.preload);
}

// An image one byte longer than any the check could take, its length word honest: reading it
// raises the oversize error. The box of that error runs its own loop, in which the window's
// first device tick comes; the scan must still look through the libraries loaded after it.
TEST(JobStartUp, OversizeFileShowsItsBoxAndTheTrackersAreStillFound) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("big.eraw").toStdString();
  {
    const uint32_t length = static_cast<uint32_t>(kMaxFirmwareImageSize + 1);
    const uint8_t word[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length >> 16),
                             static_cast<uint8_t>(length >> 24)};
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, word, sizeof word), static_cast<ssize_t>(sizeof word));
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(length)), 0);
    ::close(fd);
  }
  discovery_test::TrackerRig trackers;
  const sim::TrackerConfig tracker = BootTracker("7601", DriverKind::Maker);
  trackers.Plug(tracker);

  bool ticked_in_box = false;
  Window window(true, {path}, [&] {
    ticked_in_box = Eventually([] { return !MainForm->Session().DeviceTimer().isActive(); }, 30000);
  });
  EXPECT_TRUE(ticked_in_box);
  EXPECT_EQ(window.dialogs.errors, QStringList{kOversize});
  EXPECT_TRUE(window.Form().Session().FileMode());
  ExpectJobFailedAtItsLoad(window, trackers, tracker);
  // The job's own load met the same error and said so.
  EXPECT_EQ(window.LogLines().filter(kOversize).size(), 1);
}

// A named file nobody may read (no permissions, and held under an exclusive lock, which stops
// root as well): file mode all the same, so that the embedded image never takes its place.
TEST(JobStartUp, UnreadableNamedFileSelectsFileModeAndItsJobsFail) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("held.eraw").toStdString();
  const std::optional<std::vector<uint8_t>> image = ReadEmbeddedImage();
  ASSERT_TRUE(image.has_value());
  const int holder = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::write(holder, image->data(), image->size()), static_cast<ssize_t>(image->size()));
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(::fchmod(holder, 0), 0);

  discovery_test::TrackerRig trackers;
  const sim::TrackerConfig tracker = BootTracker("7602", DriverKind::Ftdi);
  trackers.Plug(tracker);
  Window window(true, {path});
  EXPECT_TRUE(window.Form().Session().FileMode());
  EXPECT_EQ(FormUi(window.Form()).edFWFile->currentText(), QString::fromStdString(path));
  EXPECT_TRUE(window.dialogs.errors.isEmpty());
  ExpectJobFailedAtItsLoad(window, trackers, tracker);
  // The first load and the job's each said so.
  EXPECT_EQ(window.LogLines().filter(kLoadFailed).size(), 2);
  window.Close();
  ::close(holder);
}

}  // namespace
}  // namespace jobtest
