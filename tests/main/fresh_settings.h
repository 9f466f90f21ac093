#pragma once
// Every test starts without a settings file: the windows of a test keep theirs in a folder of
// the test's own, away from the build's executables, from other tests and other processes.
// Register once in a test program's main, after InitGoogleTest.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "SettingsFile.h"

namespace updater::test {

class TFreshSettingsFolder : public testing::EmptyTestEventListener {
 public:
  static void Register() {
    testing::UnitTest::GetInstance()->listeners().Append(new TFreshSettingsFolder);
  }

  void OnTestStart(const testing::TestInfo&) override {
    folder_ = std::make_unique<QTemporaryDir>();
    SetSettingsFolder(folder_->path().toStdString());
  }

 private:
  std::unique_ptr<QTemporaryDir> folder_;
};

}  // namespace updater::test
