#pragma once
// A main-window test whose settings file lives in a folder of the test's own (dir_), so the
// test can write and read that file by path. The window's libraries list nothing.

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "MainForm.h"
#include "SettingsFile.h"
#include "form_controls.h"
#include "form_rig.h"

namespace updater::test {

template <class Dialogs>
class TFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SetSettingsFolder(dir_.path().toStdString());
  }
  void TearDown() override {
    form_.reset();
    SetSettingsFolder(previous_settings_);
  }

  // Shows a window in the mode the arguments give; the first load runs on the way.
  TMainForm& Start(std::vector<std::string> args) {
    form_ = std::make_unique<TMainForm>(std::move(args));
    form_->SetDialogs(dialogs_);
    form_->Session().SetLibraryLoaders({EmptyFtdi, EmptyQl});
    form_->show();
    return *form_;
  }

  // The recent-file list of the file box, from the top.
  QStringList Recent() const {
    QStringList items;
    for (int i = 0; i < FormUi(*form_).edFWFile->count(); ++i) {
      items << FormUi(*form_).edFWFile->itemText(i);
    }
    return items;
  }

  const std::string previous_settings_ = SettingsFolderOverride();
  QTemporaryDir dir_;
  Dialogs dialogs_;
  std::unique_ptr<TMainForm> form_;
};

}  // namespace updater::test
