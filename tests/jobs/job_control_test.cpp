// The window's side of write jobs: which clicks start a job, what the end handler shows for
// each outcome, and a device that goes away during its job.

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <string>
#include <vector>

#include "WriteThread.h"
#include "form_controls.h"
#include "job_window_rig.h"
#include "scan_rig.h"

namespace jobtest {
namespace {

using namespace updater;
using sim::DriverKind;

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kBlack(0, 0, 0);

struct Outcome {
  const char* name;
  int32_t result;
  int32_t last_reply;
  bool removed;       // the scan found the device gone during the job
  const char* panel;  // status line afterwards
  QColor panel_colour;
  const char* line;  // the result line, after the device prefix
  QColor line_colour;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << o.name;
}

class WriteDoneShows : public ::testing::TestWithParam<Outcome> {};

// The end handler alone, on a job that ended as the row says.
TEST_P(WriteDoneShows, ThePanelTextAndTheLogLineOfItsOutcome) {
  const Outcome& o = GetParam();
  discovery_test::TrackerRig trackers;  // none: the window's scans find nothing
  Window window(false);
  TMainForm& form = window.Form();
  ASSERT_TRUE(Eventually([&] { return window.Idle(); }));

  auto owned = std::make_unique<TDevEntry>("4711", 0xFFFF, 1);
  owned->BootMode = true;
  TDevEntry& dev = form.Session().AdoptDevice(std::move(owned));
  const uint64_t id = dev.Id;
  dev.Removed = o.removed;
  form.Panel(id)->btnWrite->setEnabled(false);

  form.Session().JobEnded(id, TJobOutcome{4711, o.result, o.last_reply, 1234, {}});

  const QStringList log = window.LogLines();
  if (o.removed) {
    EXPECT_EQ(form.Session().DeviceCount(), 0u);
    EXPECT_EQ(form.Panel(id), nullptr);
    EXPECT_EQ(FormUi(form).DevPanel->minimumHeight(), kEmptyDevAreaHeight);
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log.last(), QString::fromUtf8("Прибор    4711\tПрибор отключен"));
    EXPECT_EQ(log[log.size() - 2],
              QString::fromUtf8("Прибор    4711\t") + QString::fromUtf8(o.line));
    EXPECT_EQ(window.LastLineColour(), kBlack);
    return;
  }
  ASSERT_EQ(form.Session().DeviceCount(), 1u);
  const TFWLoaderDevGroup& panel = *form.Panel(id);
  EXPECT_TRUE(panel.btnWrite->isEnabled());
  EXPECT_EQ(panel.lblMessage->text(), QString::fromUtf8(o.panel));
  EXPECT_EQ(panel.lblMessage->palette().color(QPalette::WindowText), o.panel_colour);
  EXPECT_EQ(log.last(), QString::fromUtf8("Прибор    4711\t") + QString::fromUtf8(o.line));
  EXPECT_EQ(window.LastLineColour(), o.line_colour);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, WriteDoneShows,
    ::testing::Values(
        Outcome{"Success", 0, 128, false, "Обновление прошивки завершено успешно", kGreen,
                "(  1234)Прошивка завершена успешно", kBlack},
        Outcome{"LockedOnErase", 5, 138, false, "Прибор заблокирован", kRed,
                "Установлена блокировка изменения настроек", kRed},
        // A locked device is reported as locked whatever the code.
        Outcome{"LockedBeatsIncompatible", 9, 138, false, "Прибор заблокирован", kRed,
                "Установлена блокировка изменения настроек", kRed},
        Outcome{"Incompatible", 9, 0, false, "Прошивка и прибор не совместимы", kRed,
                "Прибор не совместим с данной версией прошивки", kRed},
        Outcome{"WriteFailed", 6, 131, false, "Ошибка 6 при обновлении прошивки", kRed,
                "(  1234)Ошибка 6 при прошивке. Последний код ответа прибора 131", kRed},
        Outcome{"Interrupted", 10, 0, false, "Ошибка 10 при обновлении прошивки", kRed,
                "(  1234)Ошибка 10 при прошивке. Последний код ответа прибора 0", kRed},
        Outcome{"GoneDuringTheJob", 5, 0, true, "", kRed,
                "(  1234)Ошибка 5 при прошивке. Последний код ответа прибора 0", kRed}),
    [](const auto& row) { return std::string(row.param.name); });

// A locked tracker through a real job: its first erase is refused with 138, nothing more is
// written, and the window says it is locked instead of giving the error code.
TEST(JobControl, ALockedTrackerIsReportedAsLocked) {
  discovery_test::TrackerRig trackers;
  sim::TrackerConfig config = BootTracker("7301", DriverKind::Ftdi);
  config.faults.locked = true;
  trackers.Plug(config);
  Window window(true);
  ASSERT_TRUE(Eventually([&] {
    return window.Settled(1) &&
           window.Panel(7301)->lblMessage->text() == QString::fromUtf8("Прибор заблокирован");
  }));
  const QString log = window.LogLines().join(QLatin1Char('\n'));
  EXPECT_TRUE(
      log.contains(QString::fromUtf8("Прибор    7301\tУстановлена блокировка изменения "
                                     "настроек")));
  EXPECT_FALSE(log.contains(QString::fromUtf8("при прошивке")));
  EXPECT_TRUE(window.Panel(7301)->btnWrite->isEnabled());
  EXPECT_EQ(trackers.Host->Status("7301").finish, sim::FinishState::Failed);
  EXPECT_EQ(discovery_test::Received(*trackers.Host, "7301"),
            (std::vector<std::string>{"F4", "F5", "F10", "F6", "F12"}));
}

// A tracker pulled out in the middle of a sector: the job fails, its result is shown, and then
// the device and its panel go.
TEST(JobControl, ATrackerGoneDuringItsJobIsRemovedAfterTheResultLine) {
  discovery_test::TrackerRig trackers;
  sim::TrackerConfig config = BootTracker("7401", DriverKind::Maker);
  config.faults.vanishAfter = 3 + 1 + 3;  // identification, an erase and three parts
  trackers.Plug(config);
  Window window(true);
  ASSERT_TRUE(Eventually([&] {
    return window.Settled(0) &&
           window.LogLines().filter(QString::fromUtf8("Прибор отключен")).size() == 1;
  }));
  const QStringList log = window.LogLines();
  const qsizetype result = log.indexOf(
      QRegularExpression(QString::fromUtf8("^Прибор    7401\t\\(\\s*\\d+\\)Ошибка \\d+ при "
                                           "прошивке\\. Последний код ответа прибора \\d+$")));
  const qsizetype gone = log.indexOf(QString::fromUtf8("Прибор    7401\tПрибор отключен"));
  ASSERT_GE(result, 0) << log.join('\n').toStdString();
  EXPECT_GT(gone, result);
  EXPECT_EQ(FormUi(window.Form()).DevPanel->minimumHeight(), kEmptyDevAreaHeight);
  EXPECT_NE(trackers.Host->Status("7401").finish, sim::FinishState::Succeeded);
}

// Clicks: a device in firmware mode ignores one, a device being written only says so, a button
// of no listed device is reported, and after a job the same button starts the next one.
TEST(JobControl, WhichClicksStartAJob) {
  discovery_test::TrackerRig trackers;
  sim::TrackerConfig firmware =
      discovery_test::Tracker("7501", DriverKind::Maker, sim::TrackerMode::Firmware);
  firmware.faults.start = sim::StartReply::Silent;  // it stays in its firmware
  trackers.Plug(firmware);
  sim::TrackerConfig slow = BootTracker("7502", DriverKind::Ftdi);
  slow.faults.delayMs = 5;  // a job long enough to click into
  trackers.Plug(slow);
  Window window(false);
  TMainForm& form = window.Form();
  ASSERT_TRUE(Eventually([&] { return window.Settled(2); }));

  // A device running its firmware: even an enabled button starts nothing and logs nothing.
  const QStringList before = window.LogLines();
  const auto frames = discovery_test::Received(*trackers.Host, "7501");
  QPushButton* firmware_button = window.Panel(7501)->btnWrite;
  EXPECT_FALSE(firmware_button->isEnabled());
  firmware_button->setEnabled(true);
  firmware_button->click();
  EXPECT_FALSE(form.Session().JobRunning(window.Device(7501)->Id));
  EXPECT_EQ(window.LogLines(), before);

  // A button that belongs to no listed device.
  form.Session().RequestWrite(0);
  EXPECT_EQ(window.LogLines().last(),
            QString::fromUtf8("Прибор -------\tОбъект прибора не найден"));
  EXPECT_EQ(window.LastLineColour(), kRed);

  // The user starts a job; while it runs, a second start only says so.
  TFWLoaderDevGroup& panel = *window.Panel(7502);
  panel.btnWrite->click();
  TDevEntry& dev = *window.Device(7502);
  const auto writing = [&] { return form.Session().JobRunning(dev.Id); };
  ASSERT_TRUE(writing());
  EXPECT_FALSE(panel.btnWrite->isEnabled());
  EXPECT_EQ(panel.lblMessage->text(), QString::fromUtf8("Обновление прошивки прибора..."));
  EXPECT_EQ(panel.lblMessage->palette().color(QPalette::WindowText), kGreen);
  EXPECT_EQ(window.LogLines().last(),
            QString::fromUtf8("Прибор    7502\tНачинаем прошивку прибора"));
  form.Session().StartWrite(dev);
  EXPECT_EQ(window.LogLines().last(), QString::fromUtf8("Прибор    7502\tПрибор уже прошивается"));
  const QString success = QString::fromUtf8("Обновление прошивки завершено успешно");
  ASSERT_TRUE(Eventually([&] { return !writing(); }));
  EXPECT_EQ(panel.lblMessage->text(), success);
  EXPECT_TRUE(panel.btnWrite->isEnabled());

  // The same button repeats the job.
  panel.btnWrite->click();
  ASSERT_TRUE(writing());
  ASSERT_TRUE(Eventually([&] { return !writing(); }));
  EXPECT_EQ(panel.lblMessage->text(), success);
  EXPECT_EQ(window.LogLines().filter(QString::fromUtf8("Прошивка завершена успешно")).size(), 2);
  EXPECT_EQ(discovery_test::Received(*trackers.Host, "7501"), frames);
}

}  // namespace
}  // namespace jobtest
