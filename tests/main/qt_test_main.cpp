// Widget tests need the application object for the whole run; it is the program's own, so
// that exceptions escaping event handlers are handled as in the program.

#include <gtest/gtest.h>

#include "UpdaterApplication.h"
#include "fresh_settings.h"

int main(int argc, char** argv) {
  // Test discovery runs the binary without the tests' environment.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  updater::TUpdaterApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  updater::test::TFreshSettingsFolder::Register();
  return RUN_ALL_TESTS();
}
