#include "RightAnchors.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>

namespace updater {

TRightAnchors::TRightAnchors(QWidget* parent, int design_width)
    : QObject(parent), parent_(parent), design_width_(design_width) {
  parent_->installEventFilter(this);
}

void TRightAnchors::Follow(QWidget* control) {
  Add(control, false);
}

void TRightAnchors::Stretch(QWidget* control) {
  Add(control, true);
}

void TRightAnchors::Add(QWidget* control, bool stretches) {
  const QRect design = control->geometry();
  items_.push_back({control, design_width_ - (design.x() + design.width()), stretches});
  Apply(parent_->width());
}

void TRightAnchors::Retake(QWidget* control) {
  for (TItem& item : items_) {
    if (item.Control == control) {
      const QRect now = control->geometry();
      item.RightGap = parent_->width() - (now.x() + now.width());
    }
  }
}

void TRightAnchors::Apply(int width) {
  for (const TItem& item : items_) {
    const QRect now = item.Control->geometry();
    const int right = width - item.RightGap;  // one past the control's last column
    if (item.Stretches) {
      item.Control->setGeometry(now.x(), now.y(), std::max(0, right - now.x()), now.height());
    } else {
      item.Control->move(right - now.width(), now.y());
    }
  }
}

bool TRightAnchors::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent_ && event->type() == QEvent::Resize) {
    Apply(parent_->width());
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace updater
