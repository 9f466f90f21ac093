#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <map>

#include "MainForm.h"
#include "form_controls.h"
#include "form_rig.h"

using namespace updater;

namespace {

// Shown with both libraries "present" so that the start-up boxes stay away, in file mode so
// that every control of the firmware-file area is visible.
class WindowLayoutTest : public testing::Test {
 protected:
  void SetUp() override {
    form_.SetDialogs(dialogs_);
    form_.Session().SetLibraryLoaders({test::EmptyFtdi, test::EmptyQl});
    form_.show();
    test::Pump(20);
  }

  void ResizeTo(int width, int height) {
    form_.resize(width, height);
    test::Pump(20);
  }

  std::map<QString, QRect> GroupBoxControls() const {
    std::map<QString, QRect> rects;
    for (QWidget* control :
         FormUi(form_).GroupBox1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (control->isVisible()) {
        rects[control->objectName()] = control->geometry();
      }
    }
    return rects;
  }

  test::TRecordingDialogs dialogs_;
  TMainForm form_{{"externfirmware"}};
};

TEST_F(WindowLayoutTest, DesignSizeMatchesTheForm) {
  ResizeTo(664, 456);
  EXPECT_EQ(FormUi(form_).GroupBox1->geometry(), QRect(3, 3, 658, 110));
  EXPECT_EQ(FormUi(form_).Panel1->geometry(), QRect(0, 116, 664, 340));
  EXPECT_EQ(FormUi(form_).ScrollBox1->geometry(), QRect(0, 0, 664, 172));
  EXPECT_EQ(FormUi(form_).reLog->geometry(), QRect(0, 175, 664, 165));
  // The form's geometry, but for two captions a pixel or two wider than the form made them in
  // the window's face: "Дата создания:" grows to the right, "Версия прошивки:" to the left.
  const std::map<QString, QRect> expected = {
      {"Label1", {8, 34, 44, 19}},       {"edFWFile", {58, 36, 478, 21}},
      {"btnFwOpen", {543, 34, 25, 25}},  {"btnFwLoad", {573, 34, 75, 25}},
      {"Label5", {8, 63, 113, 19}},      {"lblFirmwDate", {132, 66, 77, 16}},
      {"Label2", {411, 63, 136, 19}},    {"lblFileVer", {571, 66, 77, 16}},
      {"cbAutoWrite", {8, 87, 258, 17}}, {"cbWritelogToFile", {413, 87, 219, 17}},
  };
  EXPECT_EQ(GroupBoxControls(), expected);
}

TEST_F(WindowLayoutTest, WideningMovesRightAnchoredControlsAndKeepsTheLogHeight) {
  ResizeTo(664, 456);
  const auto before = GroupBoxControls();
  const int log_height = FormUi(form_).reLog->height();
  const int area_height = FormUi(form_).ScrollBox1->height();

  ResizeTo(864, 556);
  const auto after = GroupBoxControls();
  for (const auto& [name, rect] : before) {
    QRect moved = rect;
    if (name == "edFWFile") {
      moved.setWidth(rect.width() + 200);
    } else if (name == "btnFwOpen" || name == "btnFwLoad" || name == "Label2" ||
               name == "lblFileVer" || name == "cbWritelogToFile") {
      moved.translate(200, 0);
    }
    EXPECT_EQ(after.at(name), moved) << name.toStdString();
  }
  EXPECT_EQ(FormUi(form_).GroupBox1->geometry(), QRect(3, 3, 858, 110));
  EXPECT_EQ(FormUi(form_).reLog->height(), log_height);
  EXPECT_EQ(FormUi(form_).ScrollBox1->height(), area_height + 100);
  EXPECT_EQ(FormUi(form_).reLog->geometry().bottom(), FormUi(form_).Panel1->height() - 1);

  // Back and forth ends where it started: the anchors keep no drift.
  ResizeTo(700, 456);
  ResizeTo(664, 456);
  EXPECT_EQ(GroupBoxControls(), before);
}

TEST_F(WindowLayoutTest, CannotBeNarrowerThanDesignAndNothingOverlapsThere) {
  ResizeTo(300, 456);
  EXPECT_EQ(form_.width(), 664);
  const auto rects = GroupBoxControls();
  EXPECT_EQ(rects.size(), 10u);
  for (auto a = rects.begin(); a != rects.end(); ++a) {
    EXPECT_TRUE(FormUi(form_).GroupBox1->rect().contains(a->second)) << a->first.toStdString();
    for (auto b = std::next(a); b != rects.end(); ++b) {
      EXPECT_FALSE(a->second.intersects(b->second))
          << a->first.toStdString() << " " << b->first.toStdString();
    }
  }
}

TEST_F(WindowLayoutTest, DeviceAreaScrollsWhenPanelsNeedMoreThanItsHeight) {
  ResizeTo(664, 456);
  EXPECT_EQ(FormUi(form_).DevPanel->minimumHeight(), 90);
  EXPECT_EQ(FormUi(form_).DevPanel->width(), FormUi(form_).ScrollBox1->viewport()->width());
  EXPECT_FALSE(FormUi(form_).ScrollBox1->verticalScrollBar()->isVisible());
  for (int i = 0; i < 5; ++i) {
    auto* panel = new QWidget(FormUi(form_).DevPanel);
    panel->setFixedHeight(96);
    FormUi(form_).DevPanelLayout->addWidget(panel);
  }
  FormUi(form_).DevPanel->setMinimumHeight(5 * 96);
  // The scroll bar comes with a later layout pass; on a busy machine after more than one pump.
  EXPECT_TRUE(test::PumpUntil(
      [&] { return FormUi(form_).ScrollBox1->verticalScrollBar()->isVisible(); }, 5000));
  EXPECT_EQ(FormUi(form_).DevPanel->findChildren<QWidget*>().front()->y(),
            0);  // stacked from the top
  EXPECT_EQ(FormUi(form_).GroupBox1->geometry(), QRect(3, 3, 658, 110));
}

TEST_F(WindowLayoutTest, FixedTextsAndTimers) {
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Обновление прошивки Veltorium"));
  EXPECT_EQ(FormUi(form_).GroupBox1->title(), QStringLiteral("Файл прошивки"));
  const std::map<QString, QString> texts = {
      {"Label1", "Файл:"},
      {"btnFwOpen", "..."},
      {"btnFwLoad", "Прочитать"},
      {"Label5", "Дата создания:"},
      {"lblFirmwDate", "Неизвестна"},
      {"Label2", "Версия прошивки:"},
      {"lblFileVer", "Неизвестна"},
      {"cbAutoWrite", "Прошивать автоматически"},
      {"cbWritelogToFile", "Записывать лог в файл"},
  };
  for (const auto& [name, text] : texts) {
    const QWidget* control = form_.findChild<QWidget*>(name);
    ASSERT_NE(control, nullptr) << name.toStdString();
    EXPECT_EQ(control->property("text").toString(), text) << name.toStdString();
  }
  EXPECT_EQ(FormUi(form_).btnFwOpen->toolTip(), QStringLiteral("Открыть файл прошивки"));
  EXPECT_FALSE(FormUi(form_).cbAutoWrite->isChecked());
  EXPECT_FALSE(FormUi(form_).cbWritelogToFile->isChecked());
  EXPECT_EQ(FormUi(form_).edFWFile->completer(), nullptr);
  EXPECT_EQ(FormUi(form_).edFWFile->view()->minimumWidth(), 500);
  EXPECT_FALSE(FormUi(form_).reLog->isReadOnly());
  EXPECT_EQ(form_.Session().findChild<QTimer*>("DevTimer")->interval(), 100);
  EXPECT_EQ(form_.Session().findChild<QTimer*>("RescanTimer")->interval(), 3000);
  EXPECT_FALSE(form_.Session().findChild<QTimer*>("RescanTimer")->isActive());
}

}  // namespace
