// The program names itself as its desktop entry does and shows its icon on the window, so
// that the menu, the dock and the window agree.

#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>

#include "MainForm.h"
#include "UpdaterApplication.h"

using namespace updater;

namespace {

TEST(DesktopIdentity, WindowCarriesTheProgramsNameAndEveryIconSize) {
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("veltorium-updater"));
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("veltorium-updater"));

  QList<QSize> sizes;
  for (const int size : kProgramIconSizes) {
    sizes << QSize(size, size);
  }
  TMainForm form({});
  // Every size comes from the resources; a missing file would leave its size out.
  EXPECT_EQ(form.windowIcon().availableSizes(), sizes);
  EXPECT_FALSE(form.windowIcon().pixmap(48).isNull());
}

}  // namespace
