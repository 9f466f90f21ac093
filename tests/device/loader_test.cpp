// Loading the driver libraries: where they are looked for, and which names they must have.
// The test runs with the stand-in D2XX's folder on LD_LIBRARY_PATH (the system search) and
// with folders of test libraries standing for the executable's folder.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "DriverLibraries.h"

namespace updater {
namespace {

const std::string kLibs = TEST_LIBS_DIR;  // one sub-folder per test library
const std::string kZizuzDir = ZIZUZ_DIR;  // the real libZIZUZ.so, beside the executable

bool StillMapped(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) {
    ::dlclose(handle);
  }
  return handle != nullptr;
}

TEST(LoadFtdiLibrary, TakesTheExecutablesFolderBeforeTheSystemSearch) {
  // Only the copy beside the executable lacks FT_Rescan: that one was taken, and still loads.
  const auto beside = LoadFtdiLibrary(kLibs + "/d2xx_no_rescan/");
  ASSERT_NE(beside, nullptr);
  EXPECT_EQ(beside->FT_Rescan, nullptr);
  EXPECT_NE(beside->FT_OpenEx, nullptr);
  EXPECT_NE(beside->FT_ListDevices, nullptr);

  for (const std::string app_dir : {"", "/nonexistent/"}) {
    const auto searched = LoadFtdiLibrary(app_dir);
    ASSERT_NE(searched, nullptr) << app_dir;
    EXPECT_NE(searched->FT_Rescan, nullptr) << "the stand-in, found on LD_LIBRARY_PATH";
    EXPECT_NE(searched->FT_GetDeviceInfoList, nullptr);
  }
}

TEST(LoadFtdiLibrary, AMissingRequiredNameUnloadsAndGivesNull) {
  const std::string dir = kLibs + "/d2xx_no_write/";
  EXPECT_EQ(LoadFtdiLibrary(dir), nullptr) << "not replaced by the complete one on the path";
  EXPECT_FALSE(StillMapped(dir + kFtdiLibraryFile));
}

TEST(LoadQLLibrary, LoadsTheRealLibraryWithEveryName) {
  const auto ql = LoadQLLibrary(kZizuzDir + "/");
  ASSERT_NE(ql, nullptr);
  for (const void* fn :
       {reinterpret_cast<const void*>(ql->QL_GetListDevices),
        reinterpret_cast<const void*>(ql->QL_OpenDevice),
        reinterpret_cast<const void*>(ql->QL_CloseDevice),
        reinterpret_cast<const void*>(ql->QL_ReadNotTimeOut),
        reinterpret_cast<const void*>(ql->QL_Write), reinterpret_cast<const void*>(ql->QL_Purge),
        reinterpret_cast<const void*>(ql->QL_SetTimeouts),
        reinterpret_cast<const void*>(ql->QL_GetOpenError)}) {
    EXPECT_NE(fn, nullptr);
  }
}

TEST(LoadQLLibrary, ALibraryThatCannotTellWhyAnOpenFailedStillLoads) {
  const auto ql = LoadQLLibrary(kLibs + "/zizuz_seven/");
  ASSERT_NE(ql, nullptr);
  EXPECT_EQ(ql->QL_GetOpenError, nullptr);
  EXPECT_NE(ql->QL_SetTimeouts, nullptr);
}

TEST(LoadQLLibrary, MissingNameOrMissingFileGivesNull) {
  const std::string dir = kLibs + "/zizuz_no_purge/";
  EXPECT_EQ(LoadQLLibrary(dir), nullptr);
  EXPECT_FALSE(StillMapped(dir + kQlLibraryFile));
  EXPECT_EQ(LoadQLLibrary(kLibs + "/empty/"), nullptr) << "none beside, none on the path";
}

}  // namespace
}  // namespace updater
