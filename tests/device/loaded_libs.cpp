#include "loaded_libs.h"

#include <memory>

namespace testing_pty {

const updater::TFtdiLibrary* StandInFtdi() {
  static const std::unique_ptr<updater::TFtdiLibrary> library =
      updater::LoadFtdiLibrary(D2XX_SIM_DIR "/");
  return library.get();
}

const updater::TQlLibrary* Zizuz() {
  static const std::unique_ptr<updater::TQlLibrary> library = updater::LoadQLLibrary(ZIZUZ_DIR "/");
  return library.get();
}

}  // namespace testing_pty
