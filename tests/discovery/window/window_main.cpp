// Widget tests run inside one application object, offscreen.
#include <gtest/gtest.h>

#include <QApplication>

#include "../../main/fresh_settings.h"

#if defined(__SANITIZE_THREAD__)
// Qt is not built for ThreadSanitizer: the offscreen painter hands work to Qt's own thread
// pool, whose allocations it cannot see paired. Our threads and locks stay checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\nrace:libQt6Gui.so\n";
}
#endif

int main(int argc, char** argv) {
  // Also when the test runner lists the tests, without the tests' environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  updater::test::TFreshSettingsFolder::Register();
  return RUN_ALL_TESTS();
}
