#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMetaObject>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "MainForm.h"
#include "WorkerThread.h"
#include "form_controls.h"
#include "form_rig.h"

using namespace updater;

namespace {

using Steps = std::vector<std::string>;

std::unique_ptr<TFtdiLibrary> NoFtdi(const std::string&) {
  return nullptr;
}
std::unique_ptr<TQlLibrary> NoQl(const std::string&) {
  return nullptr;
}
std::unique_ptr<TFtdiLibrary> SomeFtdi(const std::string&) {
  return std::make_unique<TFtdiLibrary>();
}
std::unique_ptr<TQlLibrary> SomeQl(const std::string&) {
  return std::make_unique<TQlLibrary>();
}

struct TStartRig {
  explicit TStartRig(std::vector<std::string> args = {}) : form(std::make_unique<TMainForm>(args)) {
    form->SetDialogs(dialogs);
    form->OnStep = [this](std::string_view step) { steps.emplace_back(step); };
  }
  test::TRecordingDialogs dialogs;
  Steps steps;
  std::unique_ptr<TMainForm> form;
};

const QString kFtdiBox = QString::fromUtf8(kFtdiMissingText);
const QString kQlBox = QString::fromUtf8(kQlMissingText);
const QString kNoDriverBox = QString::fromUtf8(kNoDriverText);

TEST(StartUpTest, NeitherLibraryGivesThreeBoxesThenClosesAndStillSavesSettings) {
  TStartRig rig;
  rig.form->Session().SetLibraryLoaders({NoFtdi, NoQl});
  rig.form->show();
  EXPECT_EQ(rig.dialogs.Errors, (QStringList{kFtdiBox, kQlBox, kNoDriverBox}));
  EXPECT_EQ(rig.steps, (Steps{"LoadSettings", "btnFwLoadClick", "close"}));
  EXPECT_TRUE(test::PumpUntil([&] { return !rig.form->isVisible(); }, 2000));

  rig.form.reset();
  EXPECT_EQ(rig.steps, (Steps{"LoadSettings", "btnFwLoadClick", "close", "SaveSettings", "Shutdown",
                              "CloseDevices"}));
}

TEST(StartUpTest, OneMissingLibraryGivesItsBoxAndTheWindowStays) {
  struct Case {
    TLibraryLoaders loaders;
    QStringList boxes;
  };
  const std::vector<Case> cases = {
      {{NoFtdi, SomeQl}, {kFtdiBox}},
      {{SomeFtdi, NoQl}, {kQlBox}},
      {{SomeFtdi, SomeQl}, {}},
  };
  for (const Case& c : cases) {
    TStartRig rig;
    rig.form->Session().SetLibraryLoaders(c.loaders);
    rig.form->show();
    test::Pump(20);
    EXPECT_EQ(rig.dialogs.Errors, c.boxes);
    EXPECT_TRUE(rig.form->isVisible());
    EXPECT_EQ(rig.form->Session().AppPath().back(), '/');
    // A second show (a restore, say) runs no second start-up.
    rig.form->hide();
    rig.form->show();
    EXPECT_EQ(rig.dialogs.Errors, c.boxes);
    EXPECT_EQ(std::count(rig.steps.begin(), rig.steps.end(), "LoadSettings"), 1);
  }
}

TEST(StartUpTest, FileControlsShowOnlyInFileMode) {
  for (const bool file_mode : {false, true}) {
    TStartRig rig(file_mode ? std::vector<std::string>{"/externfirmware"}
                            : std::vector<std::string>{});
    rig.form->Session().SetLibraryLoaders({SomeFtdi, SomeQl});
    FormUi(*rig.form).edFWFile->setEditText(QStringLiteral("/from/settings.eraw"));
    rig.form->show();
    test::Pump(20);
    EXPECT_EQ(FormUi(*rig.form).edFWFile->isVisible(), file_mode);
    EXPECT_EQ(FormUi(*rig.form).btnFwLoad->isVisible(), file_mode);
    EXPECT_EQ(FormUi(*rig.form).btnFwOpen->isVisible(), file_mode);
    EXPECT_TRUE(FormUi(*rig.form).Label1->isVisible());
    EXPECT_EQ(FormUi(*rig.form).edFWFile->currentText(),
              file_mode ? QStringLiteral("/from/settings.eraw") : QString());
  }
}

// Logs through the main thread until asked to stop.
class TChattyWorker : public TWorkerThread {
 public:
  TChattyWorker(TDispatcher& dispatcher, TMainForm& form)
      : TWorkerThread(dispatcher), form_(form) {}
  std::atomic<int> lines{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      if (!Synchronize([this] { form_.Session().Log().Add(0, 5, "working"); })) {
        return;
      }
      ++lines;
    }
  }

 private:
  TMainForm& form_;
};

// The maker's library as far as closing goes: every close is noted.
Steps* g_closes = nullptr;
uint32_t NoteClose(uint32_t* handle) {
  g_closes->push_back("close " + std::to_string(*handle));
  return 0;
}

TEST(ShutdownTest, StopsWorkersThenClosesAndDestroysRecordsInOrder) {
  TStartRig rig;
  g_closes = &rig.steps;
  // No scan may take these records away before the shutdown does.
  rig.form->Session().DeviceTimer().stop();
  rig.form->Session().SetLibraryLoaders({SomeFtdi, [](const std::string&) {
                                           auto ql = test::EmptyQl();
                                           ql->QL_CloseDevice = NoteClose;
                                           return ql;
                                         }});
  rig.form->show();
  for (const char* serial : {"11", "22", "33"}) {
    auto entry = std::make_unique<TDevEntry>(serial, 0, 1);
    entry->QlHandle = static_cast<uint32_t>(std::stoi(serial));
    rig.form->Session().AdoptDevice(std::move(entry));
  }
  // Connected after the window: its panel is gone by the time this runs.
  TMainForm* form = rig.form.get();
  QObject::connect(&form->Session(), &TUpdaterSession::DeviceRemoved, [&rig, form](uint64_t id) {
    rig.steps.push_back(form->Panel(id) == nullptr ? "panel gone" : "panel kept");
  });
  auto worker = std::make_unique<TChattyWorker>(rig.form->Session().Dispatcher(), *rig.form);
  bool end_handler_ran = false;
  worker->OnTerminate = [&](TWorkerThread*) { end_handler_ran = true; };
  worker->Start();
  ASSERT_TRUE(test::PumpUntil([&] { return worker->lines.load() >= 3; }, 5000));

  rig.steps.clear();
  rig.form.reset();
  EXPECT_TRUE(end_handler_ran);
  EXPECT_EQ(rig.steps, (Steps{"SaveSettings", "Shutdown", "CloseDevices", "close 11", "panel gone",
                              "close 22", "panel gone", "close 33", "panel gone"}));
  g_closes = nullptr;
}

TEST(DispatcherTest, WorkerCallsRunOnTheMainThreadFromTheEventLoop) {
  TStartRig rig;
  const auto main_thread = std::this_thread::get_id();
  auto worker = std::make_unique<TChattyWorker>(rig.form->Session().Dispatcher(), *rig.form);
  bool ended_on_main = false;
  worker->OnTerminate = [&](TWorkerThread*) {
    ended_on_main = std::this_thread::get_id() == main_thread;
  };
  worker->Start();
  ASSERT_TRUE(test::PumpUntil([&] { return worker->lines.load() >= 2; }, 5000));
  worker->Terminate();
  ASSERT_TRUE(
      test::PumpUntil([&] { return rig.form->Session().Dispatcher().LiveWorkers() == 0; }, 5000));
  EXPECT_TRUE(ended_on_main);
  rig.form->ShowFrameNow();
  EXPECT_TRUE(
      FormUi(*rig.form).reLog->toPlainText().startsWith(QStringLiteral("Прибор       5\tworking")));
}

TEST(DeviceChangeTest, BurstOfNotificationsGivesOneTick) {
  TStartRig rig;
  int ticks = 0;
  QObject::connect(&rig.form->Session().DeviceTimer(), &QTimer::timeout, [&] { ++ticks; });
  // The tick that follows construction.
  ASSERT_TRUE(test::PumpUntil([&] { return ticks == 1; }, 5000));
  EXPECT_FALSE(rig.form->Session().DeviceTimer().isActive());

  // Ten notifications 50 ms apart. On a machine so busy that a pause outgrew the timer's
  // 100 ms, the burst did not happen as meant; try it again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    ticks = 0;
    bool clean = true;
    QElapsedTimer gap;
    for (int i = 0; i < 10; ++i) {
      if (i > 0) {
        test::Pump(50);
        clean = clean && gap.elapsed() < 90;
      }
      rig.form->Session().DeviceChange();
      gap.start();
    }
    test::Pump(400);
    if (clean) {
      EXPECT_EQ(ticks, 1);
      return;
    }
  }
  GTEST_SKIP() << "the machine was too busy to deliver a burst faster than the timer";
}

TEST(RestoreRequestTest, RestoresOnlyAMinimisedWindow) {
  TStartRig rig;
  rig.form->Session().SetLibraryLoaders({SomeFtdi, SomeQl});
  rig.form->setGeometry(50, 60, 700, 500);
  rig.form->show();
  test::Pump(20);
  const QRect placed = rig.form->geometry();

  rig.form->RestoreRequest();
  test::Pump(20);
  EXPECT_EQ(rig.form->geometry(), placed);
  EXPECT_FALSE(rig.form->isMinimized());

  rig.form->setWindowState(Qt::WindowMinimized);
  test::Pump(20);
  ASSERT_TRUE(rig.form->isMinimized());
  rig.form->RestoreRequest();
  test::Pump(20);
  EXPECT_FALSE(rig.form->isMinimized());
  EXPECT_TRUE(rig.form->isVisible());
}

TEST(EventLoopTest, ExceptionInAHandlerIsShownAndTheLoopGoesOn) {
  qputenv("UPDATER_DIALOGS_TO_STDERR", "1");
  QObject context;
  bool later_ran = false;
  testing::internal::CaptureStderr();
  QMetaObject::invokeMethod(
      &context, [] { throw std::runtime_error("сбой чтения"); }, Qt::QueuedConnection);
  QMetaObject::invokeMethod(
      &context, [&] { later_ran = true; }, Qt::QueuedConnection);
  test::PumpUntil([&] { return later_ran; }, 2000);
  const std::string err = testing::internal::GetCapturedStderr();
  qunsetenv("UPDATER_DIALOGS_TO_STDERR");
  EXPECT_TRUE(later_ran);
  EXPECT_NE(err.find("Veltorium Firmware Loader: сбой чтения"), std::string::npos) << err;
}

}  // namespace
