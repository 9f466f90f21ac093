// Where settings and logs go: beside a portable copy, in the user's XDG folders for an
// installed one, and how an installed copy is recognised.

#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "DataFolders.h"

using namespace updater;

namespace {

// Sets or clears environment variables for one test and puts the old values back after it.
class TScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~TScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(DataFolders, PortableCopyKeepsBothBesideTheExecutableInstalledOneInTheUsersFolders) {
  const TUserFolders user{"/home/u/.config", "/home/u/.local/state"};
  const TDataFolders portable = ChooseDataFolders("/opt/tool/", false, user);
  EXPECT_EQ(portable.settings, "/opt/tool/");
  EXPECT_EQ(portable.logs, "/opt/tool/Logs/");

  const TDataFolders installed = ChooseDataFolders("/usr/lib/veltorium-updater/", true, user);
  EXPECT_EQ(installed.settings, "/home/u/.config/veltorium-updater/");
  EXPECT_EQ(installed.logs, "/home/u/.local/state/veltorium-updater/Logs/");

  // No home folder: no place rather than a folder relative to wherever the program started.
  const TDataFolders homeless = ChooseDataFolders("/usr/lib/veltorium-updater/", true, {});
  EXPECT_EQ(homeless.settings, "");
  EXPECT_EQ(homeless.logs, "");
}

TEST(DataFolders, UserFoldersFollowXdgAndFallBackToHome) {
  struct TCase {
    const char* home;
    const char* config;
    const char* state;
    std::string want_config;
    std::string want_state;
  };
  const TCase cases[] = {
      {"/home/u", nullptr, nullptr, "/home/u/.config", "/home/u/.local/state"},
      {"/home/u", "/cfg", "/st", "/cfg", "/st"},
      {"/home/u", "", "", "/home/u/.config", "/home/u/.local/state"},
      // Relative values are to be ignored.
      {"/home/u", "cfg", "rel/st", "/home/u/.config", "/home/u/.local/state"},
      {"/home/u", "/cfg", nullptr, "/cfg", "/home/u/.local/state"},
  };
  for (const TCase& c : cases) {
    TScopedEnv env;
    env.Set("HOME", c.home);
    env.Set("XDG_CONFIG_HOME", c.config);
    env.Set("XDG_STATE_HOME", c.state);
    const TUserFolders user = TUserFolders::FromEnvironment();
    EXPECT_EQ(user.config_home, c.want_config) << (c.config ? c.config : "(unset)");
    EXPECT_EQ(user.state_home, c.want_state) << (c.state ? c.state : "(unset)");
  }
  // Without $HOME the account's home folder is taken; never a relative path.
  TScopedEnv env;
  env.Set("HOME", nullptr);
  env.Set("XDG_CONFIG_HOME", nullptr);
  env.Set("XDG_STATE_HOME", nullptr);
  const TUserFolders user = TUserFolders::FromEnvironment();
  if (!user.config_home.empty()) {
    EXPECT_EQ(user.config_home.front(), '/');
    EXPECT_EQ(user.state_home.front(), '/');
  }
}

TEST(DataFolders, InstalledCopyIsMarkedOrInAFolderThisUserCannotWrite) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString() + "/";
  EXPECT_FALSE(IsInstalledCopy(folder));

  QFile marker(dir.filePath(QString::fromLatin1(kInstalledMarkerName)));
  ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
  marker.close();
  EXPECT_TRUE(IsInstalledCopy(folder));
  ASSERT_TRUE(marker.remove());

  // A missing folder cannot be written either.
  EXPECT_TRUE(IsInstalledCopy(folder + "missing/"));

  // Root writes any folder; the rule's other half is then tested by the package's test.
  ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
  const bool binds = ::access(dir.path().toLocal8Bit().constData(), W_OK) != 0;
  EXPECT_EQ(IsInstalledCopy(folder), binds);
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(DataFolders, MakeFolderMakesParentsAndNamesAFileInTheWay) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string reason;
  const std::string deep = dir.path().toStdString() + "/a/b/Logs/";
  EXPECT_TRUE(MakeFolder(deep, reason));
  EXPECT_TRUE(QFileInfo(QString::fromStdString(deep)).isDir());
  EXPECT_TRUE(MakeFolder(deep, reason));  // already there

  QFile file(dir.filePath(QStringLiteral("file")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  for (const std::string& name : {std::string("/file/"), std::string("/file/x/Logs/")}) {
    reason.clear();
    EXPECT_FALSE(MakeFolder(dir.path().toStdString() + name, reason)) << name;
    EXPECT_EQ(reason, "имя " + file.fileName().toStdString() + " занято файлом") << name;
  }
  reason.clear();
  EXPECT_FALSE(MakeFolder("", reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(QFileInfo(file.fileName()).size(), 0);
}

}  // namespace
