// The resizing helper: registration checks, shares with remainders, the minimum size.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <map>

#include "ui/model/resize_ctrl.h"
#include "ui/widgets/resize_adapter.h"

namespace palvoro {
namespace {

class FakeDialog : public ResizeHost {
 public:
  ResizeSize client{400, 300};
  std::map<int, ResizeRect> controls;

  ResizeSize clientSize() const override { return client; }
  ResizeSize windowSize() const override { return {client.width + 8, client.height + 30}; }
  std::optional<ResizeRect> controlRect(int id) const override {
    const auto found = controls.find(id);
    if (found == controls.end()) return std::nullopt;
    return found->second;
  }
  void placeControls(const std::vector<ResizePlacement>& moves) override {
    for (const ResizePlacement& move : moves) controls[move.controlId] = move.rect;
  }
  void setIntercepting(bool) override {}
  bool hasSizingBorder() const override { return true; }
  void setSizingBorder(bool) override {}
  ResizeSize scrollBarExtents() const override { return {17, 17}; }
  void redraw(const ResizeRect&) override {}

  void resizeTo(ResizeCtrl& ctrl, int cx, int cy) {
    client = {cx, cy};
    ctrl.onSize(cx, cy);
  }
};

TEST(ResizeCtrlTest, InvalidRegistrationsAreRefused) {
  FakeDialog dialog;
  dialog.controls[1] = {10, 10, 50, 20};
  ResizeCtrl ctrl;
  ASSERT_TRUE(ctrl.create(dialog, true, 100));
  EXPECT_FALSE(ctrl.create(dialog, true, 100));
  struct Case {
    int id, left, top, width, height;
  };
  const Case refused[] = {
      {1, 60, 0, 50, 0},  // left + width above 100
      {1, 0, 70, 0, 31},  // top + height above 100
      {1, -1, 0, 0, 0},   {1, 0, 0, 101, 0}, {1, 0, -5, 0, 0},
      {9, 0, 0, 0, 0},    // no such control
  };
  for (const Case& c : refused) {
    EXPECT_FALSE(ctrl.add(c.id, c.left, c.top, c.width, c.height)) << c.left << " " << c.width;
  }
  EXPECT_TRUE(ctrl.items().empty());
  EXPECT_TRUE(ctrl.add(1, 50, 50, 50, 50));
  EXPECT_EQ(ctrl.items().size(), 1u);
}

TEST(ResizeCtrlTest, GrowingOnePixelAHundredTimesMovesAHalfShareFiftyPixels) {
  FakeDialog dialog;
  dialog.controls[1] = {10, 20, 100, 40};
  ResizeCtrl ctrl;
  ctrl.create(dialog, true, 100);
  ASSERT_TRUE(ctrl.add(1, 50, 50, 0, 0));
  for (int i = 1; i <= 100; ++i) dialog.resizeTo(ctrl, 400 + i, 300 + i);
  EXPECT_EQ(dialog.controls[1], (ResizeRect{60, 70, 100, 40}));
}

TEST(ResizeCtrlTest, ShrinkingBackReturnsEveryControlToItsPlace) {
  FakeDialog dialog;
  const std::map<int, ResizeRect> start{{1, {6, 6, 380, 120}},
                                        {2, {6, 140, 380, 120}},
                                        {3, {6, 130, 80, 10}},
                                        {4, {330, 20, 60, 20}}};
  dialog.controls = start;
  ResizeCtrl ctrl;
  ctrl.create(dialog, true, 100);
  ASSERT_TRUE(ctrl.add(1, 0, 0, 100, 50));
  ASSERT_TRUE(ctrl.add(2, 0, 50, 100, 50));
  ASSERT_TRUE(ctrl.add(3, 0, 50, 0, 0));
  ASSERT_TRUE(ctrl.add(4, 50, 0, 0, 0));
  const std::pair<int, int> steps[] = {{403, 301}, {457, 333}, {458, 336}, {777, 555},
                                       {501, 399}, {433, 307}, {400, 300}};
  for (const auto& [cx, cy] : steps) dialog.resizeTo(ctrl, cx, cy);
  EXPECT_EQ(dialog.controls, start);
  // Part 100 of a 101-pixel growth: the list's width follows exactly.
  dialog.resizeTo(ctrl, 501, 300);
  EXPECT_EQ(dialog.controls[1].width, 481);
}

TEST(ResizeCtrlTest, AFullWidthShareNeverGoesBelowZeroAndCarriesTheLoss) {
  int width = 5;
  int remainder = 0;
  applyResizeShare(width, remainder, -10, 100, 100, true);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(remainder, -500);
  applyResizeShare(width, remainder, 10, 100, 100, true);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(remainder, 0);
}

TEST(ResizeCtrlTest, MinimumTrackingSizeIsTheWindowSizeWhenSet) {
  FakeDialog dialog;
  ResizeCtrl ctrl;
  ctrl.create(dialog, true, 100);
  ctrl.setMinimumTrackingSize();
  const ResizeCtrl::Limits limits = ctrl.trackingLimits({100, 80}, {3000, 2000});
  EXPECT_EQ(limits.minimum, (ResizeSize{408, 330}));
  EXPECT_EQ(limits.maximum, (ResizeSize{3000, 2000}));
}

TEST(ResizeAdapterTest, WindowCannotShrinkBelowItsMinimumAndControlsFollow) {
  QWidget window;
  window.resize(400, 300);
  auto* list = new QLabel(QStringLiteral("list"), &window);
  list->setGeometry(6, 6, 388, 140);
  auto* button = new QLabel(QStringLiteral("button"), &window);
  button->setGeometry(330, 160, 60, 20);
  QLabel stranger;
  window.show();
  QApplication::processEvents();

  ResizeAdapter resize(&window);
  EXPECT_FALSE(resize.add(&stranger, 0, 0, 0, 0));
  EXPECT_FALSE(resize.add(list, 60, 0, 50, 0));
  ASSERT_TRUE(resize.add(list, 0, 0, 100, 50));
  ASSERT_TRUE(resize.add(button, 50, 0, 0, 0));
  resize.setMinimumTrackingSize();
  resize.showGrip(true);
  EXPECT_EQ(window.property(ResizeAdapter::kWindowProperty).value<QObject*>(), &resize);

  window.resize(500, 400);
  QApplication::processEvents();
  EXPECT_EQ(list->geometry(), QRect(6, 6, 488, 190));
  EXPECT_EQ(button->geometry(), QRect(380, 160, 60, 20));
  EXPECT_TRUE(resize.grip()->isVisible());
  EXPECT_EQ(resize.grip()->geometry().bottomRight(), QPoint(499, 399));

  window.resize(200, 100);
  QApplication::processEvents();
  EXPECT_EQ(window.size(), QSize(400, 300));
  EXPECT_EQ(list->geometry(), QRect(6, 6, 388, 140));
  EXPECT_EQ(button->geometry(), QRect(330, 160, 60, 20));

  resize.enable(false);
  EXPECT_FALSE(window.property(ResizeAdapter::kWindowProperty).isValid());
}

}  // namespace
}  // namespace palvoro
