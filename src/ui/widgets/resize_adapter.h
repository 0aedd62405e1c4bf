#pragma once
// Applies a ResizeCtrl (ui/model/resize_ctrl.h) to a Qt window: registered child widgets
// move and grow by their shares whenever the window's size changes, the window cannot be
// made smaller than its minimum tracking size, and a size grip sits in the bottom-right
// corner. Size changes are taken from an event filter on the window, so they are applied
// before the window's own resizeEvent runs; registered widgets must be positioned by hand
// (not by a layout) and be children of the window.
//
//   ResizeAdapter resize(window);      // create(window, enable, 100)
//   resize.add(list, 0, 0, 100, 50);   // left, top, width, height parts out of 100
//   resize.setMinimumTrackingSize();   // the current size becomes the minimum
//   resize.showGrip(true);

#include <QObject>
#include <QPointer>
#include <QSizeGrip>
#include <QWidget>
#include <vector>

#include "ui/model/resize_ctrl.h"

namespace palvoro {

class ResizeAdapter : public QObject, private ResizeHost {
  Q_OBJECT
 public:
  // The name of the window property that points back to the adapter while enabled.
  static constexpr const char* kWindowProperty = "___CResizeCtrl___Class___";

  explicit ResizeAdapter(QWidget* window, bool enable = true, int maxPart = 100);
  ~ResizeAdapter() override;

  // False (nothing registered) for invalid parts or a widget that is not the window's child.
  bool add(QWidget* control, int left, int top, int width, int height);
  void enable(bool on);
  bool isEnabled() const { return m_ctrl.isEnabled(); }
  void setMinimumTrackingSize();
  void showGrip(bool on);
  bool gripShown() const { return m_ctrl.gripShown(); }
  QSizeGrip* grip() const { return m_grip; }
  const ResizeCtrl& controller() const { return m_ctrl; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ResizeSize clientSize() const override;
  ResizeSize windowSize() const override;
  std::optional<ResizeRect> controlRect(int controlId) const override;
  void placeControls(const std::vector<ResizePlacement>& moves) override;
  void setIntercepting(bool on) override;
  bool hasSizingBorder() const override;
  void setSizingBorder(bool on) override;
  ResizeSize scrollBarExtents() const override;
  void redraw(const ResizeRect& area) override;

  void applyLimits();

  QPointer<QWidget> m_window;
  std::vector<QPointer<QWidget>> m_controls;  // control id = index
  QSizeGrip* m_grip = nullptr;
  ResizeCtrl m_ctrl;
};

}  // namespace palvoro
