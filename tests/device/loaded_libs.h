#pragma once
// The two real libraries of the build, loaded once per test process through the program's
// loaders: libZIZUZ.so from beside the executable, the stand-in D2XX from its own folder.

#include "DriverLibraries.h"

namespace testing_pty {

const updater::TFtdiLibrary* StandInFtdi();
const updater::TQlLibrary* Zizuz();

}  // namespace testing_pty
