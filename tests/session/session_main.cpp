// The session's tests run in a core application: an event loop, no display.
#include <gtest/gtest.h>

#include <QCoreApplication>

#if defined(__SANITIZE_THREAD__)
// Qt is not built for ThreadSanitizer: its event queue's own locking is invisible to it. Our
// threads and locks stay checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n";
}
#endif

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
