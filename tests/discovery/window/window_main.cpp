// Widget tests run inside one application object, offscreen.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // Also when the test runner lists the tests, without the tests' environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
