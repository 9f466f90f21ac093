#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "MainForm.h"
#include "form_controls.h"

using namespace updater;

namespace {

class CommandLineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path().toStdString() + "/";
    Touch("Upd.ERAW");
    Touch("fw.raw");
    Touch("second.eraw");
    std::filesystem::create_directory(root_ + "x.eraw");
    Touch("\xff\xfe.eraw");  // a name that is no UTF-8 text
    Touch("noread.eraw");
    std::filesystem::permissions(root_ + "noread.eraw", std::filesystem::perms::none);
  }

  void Touch(const std::string& name) { std::ofstream(root_ + name) << "image"; }

  QTemporaryDir dir_;
  std::string root_;
};

TEST_F(CommandLineTest, SelectsFileModeByExistingEncodedImageOrSwitchOnly) {
  const std::string long_name(100000, 'a');
  struct Case {
    std::vector<std::string> args;
    bool extern_firmware;
    std::string file;  // expected file box text, relative to root_ unless empty
  };
  const std::vector<Case> cases = {
      {{}, false, ""},
      {{"EXTERNFIRMWARE"}, true, ""},
      {{"-externfirmware"}, true, ""},
      {{"/ExternFirmware"}, true, ""},
      {{"--externfirmware"}, false, ""},
      {{"//externfirmware"}, false, ""},
      {{"externfirmwarex"}, false, ""},
      {{root_ + "Upd.ERAW"}, true, "Upd.ERAW"},  // case of name and extension kept
      {{root_ + "upd.eraw"}, false, ""},         // the file system tells the cases apart
      {{root_ + "missing.eraw"}, false, ""},
      {{root_ + "fw.raw"}, false, ""},
      {{root_ + "x.eraw"}, false, ""},                 // a folder
      {{root_ + "noread.eraw"}, true, "noread.eraw"},  // its load fails and says so
      {{root_ + "\xff\xfe.eraw"}, false, ""},          // cannot be named again as text
      {{""}, false, ""},
      {{long_name + ".eraw"}, false, ""},
      {{"/" + long_name}, false, ""},
      {{"\xff\xfe\xfd"}, false, ""},
      {{"-" + root_ + "Upd.ERAW"}, false, ""},  // the switch character is part of the name
      {{root_ + "Upd.ERAW", root_ + "second.eraw"}, true, "second.eraw"},
      {{root_ + "Upd.ERAW", "externfirmware", root_ + "fw.raw"}, true, "Upd.ERAW"},
  };
  for (const Case& c : cases) {
    const TCommandLine result = ParseCommandLine(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args.front().substr(0, 80);
    EXPECT_EQ(result.ExternFirmware, c.extern_firmware) << shown;
    EXPECT_EQ(result.FileName, c.file.empty() ? "" : root_ + c.file) << shown;
  }
}

TEST_F(CommandLineTest, RelativeNameIsTestedAndShownAsGiven) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(root_);
  const TCommandLine result = ParseCommandLine({"Upd.ERAW"});
  std::filesystem::current_path(previous);
  EXPECT_TRUE(result.ExternFirmware);
  EXPECT_EQ(result.FileName, "Upd.ERAW");
}

TEST_F(CommandLineTest, WindowTakesModeAndFileNameFromTheArguments) {
  TMainForm form({"-ExternFirmware", root_ + "Upd.ERAW"});
  EXPECT_TRUE(form.Session().FileMode());
  EXPECT_EQ(FormUi(form).edFWFile->currentText(), QString::fromStdString(root_ + "Upd.ERAW"));

  TMainForm plain({root_ + "fw.raw", "--externfirmware"});
  EXPECT_FALSE(plain.Session().FileMode());
  EXPECT_TRUE(FormUi(plain).edFWFile->currentText().isEmpty());
}

}  // namespace
