// The texts of the window and of its device panels, at their longest, measured with the font
// each control actually draws in: every text lies whole inside its control and runs into no
// other text, at the window's narrowest. The test program runs these twice: at the screen's own
// scale and with QT_SCALE_FACTOR=2, where every length doubles and the texts must still fit.
// Texts from files and devices are never taken for markup.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DevEntry.h"
#include "DevPanelGroup.h"
#include "FirmwareVersion.h"
#include "FormFont.h"
#include "MainForm.h"
#include "form_controls.h"
#include "form_fixture.h"
#include "form_rig.h"

using namespace updater;

namespace {

void Put16(std::vector<uint8_t>& image, size_t at, uint32_t value) {
  image[at] = static_cast<uint8_t>(value);
  image[at + 1] = static_cast<uint8_t>(value >> 8);
}

// An image with the version text and a build date that passes every check.
std::vector<uint8_t> MakeDatedImage(const std::string& version, const std::string& date) {
  const size_t header = 10 + version.size() + date.size();
  const size_t length = header + 16;
  std::vector<uint8_t> image(length, 0x5A);
  Put16(image, 0, static_cast<uint32_t>(length));
  Put16(image, 2, static_cast<uint32_t>(length >> 16) | 0x8000u);
  Put16(image, 4, 0);
  Put16(image, 6, static_cast<uint32_t>(version.size()));
  std::copy(version.begin(), version.end(), image.begin() + 8);
  Put16(image, 8 + version.size(), static_cast<uint32_t>(date.size()));
  std::copy(date.begin(), date.end(), image.begin() + 10 + static_cast<long>(version.size()));
  Put16(image, 4, Checksum16(image.data(), static_cast<uint16_t>(length)));
  return image;
}

// One text as a control draws it, in the coordinates of Parent: Room is where the control may
// draw it, Ink where it lands (its advance by the font's line height, aligned in Room).
struct TDrawnText {
  std::string Name;
  const QWidget* Control;
  const QWidget* Parent;
  QString Text;
  QRect Room;
  QRect Ink;
};

QRect Aligned(const QWidget* control, Qt::Alignment alignment, const QString& text,
              const QRect& room) {
  const QFontMetrics metrics(control->font());
  return QStyle::alignedRect(control->layoutDirection(), alignment,
                             QSize(metrics.horizontalAdvance(text), metrics.height()), room);
}

TDrawnText LabelText(const QLabel* label) {
  const QRect room = label->contentsRect().translated(label->pos());
  return {label->objectName().toStdString(),
          label,
          label->parentWidget(),
          label->text(),
          room,
          Aligned(label, label->alignment(), label->text(), room)};
}

TDrawnText ButtonText(const QAbstractButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  const bool check_box = qobject_cast<const QCheckBox*>(button) != nullptr;
  const QRect room =
      button->style()
          ->subElementRect(check_box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                           &option, button)
          .translated(button->pos());
  const Qt::Alignment alignment = check_box ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::AlignCenter;
  return {button->objectName().toStdString(),
          button,
          button->parentWidget(),
          button->text(),
          room,
          Aligned(button, alignment, button->text(), room)};
}

// The caption of a group box, in the box's own coordinates (where its children are).
TDrawnText GroupTitle(const QGroupBox* box) {
  QStyleOptionGroupBox option;
  option.initFrom(box);
  option.text = box->title();
  option.textAlignment = box->alignment();
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  option.lineWidth = 1;
  const QRect room =
      box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
  return {"title of " + box->title().toStdString(),
          box,
          box,
          box->title(),
          room,
          Aligned(box, Qt::AlignLeft | Qt::AlignVCenter, box->title(), room)};
}

// Every text lies whole in its room, every room inside the control's parent, in the face the
// window carries; no two texts with the same parent meet.
void ExpectAllFit(const std::vector<TDrawnText>& texts, const std::string& context) {
  for (const TDrawnText& text : texts) {
    SCOPED_TRACE(context + ": " + text.Name + " \"" + text.Text.toStdString() + "\"");
    EXPECT_EQ(QFontInfo(text.Control->font()).family(), FormFontFamily());
    EXPECT_TRUE(text.Control->isVisible());
    EXPECT_TRUE(text.Room.contains(text.Ink))
        << "ink " << text.Ink.width() << "x" << text.Ink.height() << " in room "
        << text.Room.width() << "x" << text.Room.height();
    EXPECT_TRUE(text.Parent->rect().contains(text.Room));
  }
  for (size_t a = 0; a < texts.size(); ++a) {
    for (size_t b = a + 1; b < texts.size(); ++b) {
      if (texts[a].Parent == texts[b].Parent) {
        EXPECT_FALSE(texts[a].Ink.intersects(texts[b].Ink))
            << context << ": " << texts[a].Name << " meets " << texts[b].Name;
      }
    }
  }
}

class TextFitTest : public test::TFormTest<test::TRecordingDialogs> {
 protected:
  // File mode, so that every control of the firmware-file area shows; as narrow as it goes.
  void SetUp() override {
    test::TFormTest<test::TRecordingDialogs>::SetUp();
    Start({"externfirmware"});
    form_->resize(0, 456);
    test::Pump(20);
  }

  void LoadImage(const std::string& version) {
    const QString path = dir_.filePath(QStringLiteral("image.eraw"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const std::vector<uint8_t> bytes = MakeDatedImage(version, "07.11.2013 16:25:19");
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.close();
    FormUi(*form_).edFWFile->setEditText(path);
    form_->btnFwLoadClick();
  }

  // A device record with a panel in the window's device area, as the scan's merge makes it.
  // A device's panel in the window's device area.
  std::unique_ptr<TFWLoaderDevGroup> Device(const std::string& serial, const std::string& firmware,
                                            const std::string& loader) {
    auto dev =
        std::make_unique<TFWLoaderDevGroup>(FormUi(*form_).DevPanel, 80, serial, firmware, loader);
    FormUi(*form_).DevPanel->setMinimumHeight(kDevPanelPitch);
    test::Pump(20);
    return dev;
  }

  std::vector<TDrawnText> FileAreaTexts() const {
    std::vector<TDrawnText> texts = {GroupTitle(FormUi(*form_).GroupBox1)};
    for (const QLabel* label :
         {FormUi(*form_).Label1, FormUi(*form_).Label5, FormUi(*form_).lblFirmwDate,
          FormUi(*form_).Label2, FormUi(*form_).lblFileVer}) {
      texts.push_back(LabelText(label));
    }
    for (const QAbstractButton* button :
         {static_cast<QAbstractButton*>(FormUi(*form_).btnFwOpen),
          static_cast<QAbstractButton*>(FormUi(*form_).btnFwLoad),
          static_cast<QAbstractButton*>(FormUi(*form_).cbAutoWrite),
          static_cast<QAbstractButton*>(FormUi(*form_).cbWritelogToFile)}) {
      texts.push_back(ButtonText(button));
    }
    return texts;
  }

  static std::vector<TDrawnText> PanelTexts(const TFWLoaderDevGroup& panel) {
    std::vector<TDrawnText> texts = {GroupTitle(panel.gbDevice), ButtonText(panel.btnWrite)};
    const std::pair<const char*, const QLabel*> labels[] = {
        {"lblSerialTitle", panel.lblSerialTitle},
        {"lblSerial", panel.lblSerial},
        {"lblFirmwareTitle", panel.lblFirmwareTitle},
        {"lblFirmware", panel.lblFirmware},
        {"lblLoaderTitle", panel.lblLoaderTitle},
        {"lblLoader", panel.lblLoader},
        {"lblMessage", panel.lblMessage}};
    for (const auto& [name, label] : labels) {
      texts.push_back(LabelText(label));
      texts.back().Name = name;
    }
    return texts;
  }
};

TEST_F(TextFitTest, EveryTextFitsItsControlAtTheNarrowestWindow) {
  struct Case {
    const char* Name;
    std::string ImageVersion;  // in the firmware-file area, with the date 07-11-2013 16:25:19
    std::string Serial;
    std::string Firmware;
    std::string Loader;
    bool PanelFitsTheArea;  // no sideways scrolling of the device area
  };
  const Case cases[] = {
      {"the demo's trackers", "ROZI-1.16", "1001", "ROZI-1.15", "BOOT-1.05", true},
      {"20-character versions, the longest serial", "ROZI-12.34-rc2.build", "-2147483648",
       "ROZI-12.34-rc2.build", "BOOT-12.34-rc2.build", false},
      {"20 of the widest letters", "WWWWWWWWWWWWWW-44.64", "2147483647", "ШШШШШШШШШШШШШШ-44.64",
       "WWWWWWWWWWWWWW-44.64", false},
  };
  const char* const messages[] = {
      "Прибор подключен",
      "Отключите прибор и подключите заново.",
      "Обновление прошивки прибора...",
      "Обновление прошивки завершено успешно",
      "Прибор заблокирован",
      "Прошивка и прибор не совместимы",
      "Ошибка 10 при обновлении прошивки",
  };
  ASSERT_EQ(form_->width(), form_->minimumWidth());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    LoadImage(c.ImageVersion);
    ASSERT_EQ(FormUi(*form_).lblFileVer->text().toStdString(), c.ImageVersion);
    ASSERT_EQ(FormUi(*form_).lblFirmwDate->text(), QStringLiteral("07-11-2013 16:25:19"));
    ExpectAllFit(FileAreaTexts(), "firmware-file area");

    auto dev = Device(c.Serial, c.Firmware, c.Loader);
    const TFWLoaderDevGroup& panel = *dev;
    EXPECT_EQ(panel.lblLoader->text().toStdString(), c.Loader);
    EXPECT_EQ(!FormUi(*form_).ScrollBox1->horizontalScrollBar()->isVisible(), c.PanelFitsTheArea);
    EXPECT_TRUE(FormUi(*form_).DevPanel->rect().contains(panel.gbDevice->geometry()));
    for (const char* message : messages) {
      ShowDevMessage(*dev, message, 1);
      ExpectAllFit(PanelTexts(panel), message);
    }
  }
}

TEST_F(TextFitTest, TextsFromFilesAndDevicesAreShownAsTheyAre) {
  const std::string markup = "<h1>x</h1>-1.16";
  LoadImage(markup);
  auto dev = Device("1001", markup, markup);
  ShowDevMessage(*dev, "<b>bold</b>", 2);
  const TFWLoaderDevGroup& panel = *dev;
  for (const QLabel* label : {FormUi(*form_).lblFileVer, panel.lblFirmware, panel.lblLoader}) {
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    EXPECT_EQ(label->text().toStdString(), markup);
  }
  EXPECT_EQ(panel.lblMessage->textFormat(), Qt::PlainText);
  EXPECT_EQ(panel.lblSerial->textFormat(), Qt::PlainText);
  EXPECT_EQ(FormUi(*form_).lblFirmwDate->textFormat(), Qt::PlainText);
  // Drawn literally: as wide as the markup's characters.
  EXPECT_GE(FormUi(*form_).lblFileVer->width(),
            QFontMetrics(FormUi(*form_).lblFileVer->font())
                .horizontalAdvance(QString::fromStdString(markup)));
}

}  // namespace
