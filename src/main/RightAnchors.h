#pragma once
// Right-edge anchoring for controls placed at fixed positions inside a parent: a control either
// keeps its distance from the parent's right edge or stretches so that its own right edge keeps
// it. Distances are taken from the design layout, so every width gives exact pixels however
// often the parent was resized before.
//
// Threads: main thread (widgets).

#include <QObject>
#include <vector>

class QWidget;

namespace updater {

class TRightAnchors : public QObject {
 public:
  // design_width: the parent's width that the controls' current geometry was laid out for.
  TRightAnchors(QWidget* parent, int design_width);

  void Follow(QWidget* control);   // anchored top and right: moves with the right edge
  void Stretch(QWidget* control);  // anchored left, top and right: grows with the parent
  // The control was placed anew at the parent's present width: from now on it keeps its new
  // distance from the right edge.
  void Retake(QWidget* control);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TItem {
    QWidget* Control;
    int RightGap;  // parent's right edge minus the control's right edge, at design width
    bool Stretches;
  };

  void Add(QWidget* control, bool stretches);
  void Apply(int width);

  QWidget* parent_;
  int design_width_;
  std::vector<TItem> items_;
};

}  // namespace updater
