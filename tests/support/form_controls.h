#pragma once
// The main window's controls, found by the names the form gives them, for tests that look at
// or drive what the window shows. The window keeps its form private; this reads it the way a
// user's tool would, through Qt's object tree.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>
#include <QWidget>

struct FormControls {
  explicit FormControls(const QWidget& form)
      : GroupBox1(Find<QGroupBox>(form, "GroupBox1")),
        Label1(Find<QLabel>(form, "Label1")),
        edFWFile(Find<QComboBox>(form, "edFWFile")),
        btnFwOpen(Find<QPushButton>(form, "btnFwOpen")),
        btnFwLoad(Find<QPushButton>(form, "btnFwLoad")),
        Label5(Find<QLabel>(form, "Label5")),
        lblFirmwDate(Find<QLabel>(form, "lblFirmwDate")),
        Label2(Find<QLabel>(form, "Label2")),
        lblFileVer(Find<QLabel>(form, "lblFileVer")),
        cbAutoWrite(Find<QCheckBox>(form, "cbAutoWrite")),
        cbWritelogToFile(Find<QCheckBox>(form, "cbWritelogToFile")),
        Panel1(Find<QWidget>(form, "Panel1")),
        Splitter1(Find<QSplitter>(form, "Splitter1")),
        ScrollBox1(Find<QScrollArea>(form, "ScrollBox1")),
        DevPanel(Find<QWidget>(form, "DevPanel")),
        DevPanelLayout(Find<QVBoxLayout>(form, "DevPanelLayout")),
        reLog(Find<QPlainTextEdit>(form, "reLog")) {}

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QComboBox* edFWFile;
  QPushButton* btnFwOpen;
  QPushButton* btnFwLoad;
  QLabel* Label5;
  QLabel* lblFirmwDate;
  QLabel* Label2;
  QLabel* lblFileVer;
  QCheckBox* cbAutoWrite;
  QCheckBox* cbWritelogToFile;
  QWidget* Panel1;
  QSplitter* Splitter1;
  QScrollArea* ScrollBox1;
  QWidget* DevPanel;
  QVBoxLayout* DevPanelLayout;
  QPlainTextEdit* reLog;

 private:
  // A missing control is a fault of the form: the test stops on a null pointer at once.
  template <class T>
  static T* Find(const QWidget& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
  }
};

inline FormControls FormUi(const QWidget& form) {
  return FormControls(form);
}
