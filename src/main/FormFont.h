#pragma once
// The typeface of the main window, its device panels and its log: Liberation Sans, carried in
// the program's resources (licence at ":/fonts/LICENSE.txt"). Desktops without the face the
// form was drawn with fall back to wider ones, and the form's fixed texts then no longer fit
// their controls; this face's widths are within a few pixels of the form's.
//
// Sizes are the form's pixel sizes; Qt scales them with the screen like every other length of
// the window.
//
// Main thread only: the font database belongs to the GUI thread.

#include <QFont>
#include <QString>

class QWidget;

namespace updater {

inline constexpr int kWindowFontPx = 11;  // the window, its buttons and group boxes, the log
inline constexpr int kCaptionFontPx = 16;  // captions such as "Дата создания:", the status line
inline constexpr int kValueFontPx = 13;  // versions, dates, serials and the check boxes

// The family of the embedded face; registers the face on the first call. Should the resource
// be unusable (a broken build), the family is looked up by name among the system's fonts.
QString FormFontFamily();

// The embedded face at a pixel size.
QFont FormFont(int pixels, bool bold = false);

// Gives the window and every control under it that has a font of its own the embedded face.
// The form states sizes in points at 96 dpi; they become the same pixel sizes here, so texts
// keep their height relative to the controls whatever dpi the desktop reports.
void UseFormFont(QWidget* root);

}  // namespace updater
