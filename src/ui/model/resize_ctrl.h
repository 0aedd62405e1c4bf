#pragma once
// CResizeCtrl: makes a dialog resizable. Each registered control takes a share of every
// change in the dialog's client width and height as movement (left, top) and as growth
// (width, height), in parts out of `maxPart`. The fractions integer division drops are
// carried in per-control remainders, so many small steps add up exactly. The controller
// also keeps the dialog from shrinking below a minimum size and owns the size grip's
// rectangle. It reaches the dialog only through ResizeHost, which a toolkit adapter
// implements.

#include <cstddef>
#include <optional>
#include <vector>

namespace palvoro {

struct ResizeSize {
  int width = 0;
  int height = 0;
  bool operator==(const ResizeSize&) const = default;
};

struct ResizeRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const ResizeRect&) const = default;
};

// A control's new rectangle, one of the moves of a resize.
struct ResizePlacement {
  int controlId = 0;
  ResizeRect rect;
};

// The dialog as the controller needs it.
class ResizeHost {
 public:
  virtual ~ResizeHost() = default;
  virtual ResizeSize clientSize() const = 0;
  // The dialog's whole size (its frame included where there is one).
  virtual ResizeSize windowSize() const = 0;
  // The control's rectangle in dialog client coordinates; nothing when no such control.
  virtual std::optional<ResizeRect> controlRect(int controlId) const = 0;
  // Moves the controls all together, keeping their stacking order.
  virtual void placeControls(const std::vector<ResizePlacement>& moves) = 0;
  // Starts or stops passing size changes and size-limit questions to the controller.
  virtual void setIntercepting(bool on) = 0;
  virtual bool hasSizingBorder() const = 0;
  // Gives or takes the sizing border, keeping the client area's size.
  virtual void setSizingBorder(bool on) = 0;
  // Widths of a vertical scroll bar and heights of a horizontal one.
  virtual ResizeSize scrollBarExtents() const = 0;
  // Redraws that client area (the grip's old or new place).
  virtual void redraw(const ResizeRect& area) = 0;
};

// One registered control.
struct ResizeItem {
  int controlId = 0;
  int left = 0, top = 0, width = 0, height = 0;  // parts, each in 0..maxPart
  int leftRemainder = 0, topRemainder = 0, widthRemainder = 0, heightRemainder = 0;
};

// One share step: `value` moves or grows by (delta * part + remainder) / maxPart, the rest
// stays in `remainder`. With `notBelowZero` (widths, heights) a negative result becomes 0
// and the lost amount goes into the remainder. Answers whether `value` changed.
bool applyResizeShare(int& value, int& remainder, int delta, int part, int maxPart,
                      bool notBelowZero);

class ResizeCtrl {
 public:
  // Sets up the state for `host` (tracking sizes unset) and enables when asked. False when
  // already created.
  bool create(ResizeHost& host, bool enable, int maxPart = 100);
  // No effect when unchanged. On: records the client size and intercepts the dialog's
  // size handling (giving it a sizing border when it had none); off: undoes that.
  void enable(bool on);
  bool isEnabled() const { return m_enabled; }

  // Registers a control. False (and nothing added) unless every part lies in 0..maxPart,
  // left + width and top + height do not exceed maxPart, and the control exists.
  bool add(int controlId, int left, int top, int width, int height);
  const std::vector<ResizeItem>& items() const { return m_items; }

  // The dialog's current window size becomes the minimum.
  void setMinimumTrackingSize();
  void setMinimumTrackingSize(ResizeSize size) { m_minTrack = size; }
  void setMaximumTrackingSize(ResizeSize size) { m_maxTrack = size; }
  // The size limits to impose: the stored tracking sizes, each unset (-1) value first
  // filled from the system's own answer (and remembered).
  struct Limits {
    ResizeSize minimum;
    ResizeSize maximum;
  };
  Limits trackingLimits(ResizeSize systemMinimum, ResizeSize systemMaximum);

  // No effect when unchanged; redraws the grip area when enabled.
  void showGrip(bool on);
  bool gripShown() const { return m_gripShown; }
  // Bottom-right corner of the client area, a scroll bar's width and height minus 2.
  ResizeRect gripRect() const { return m_gripRect; }

  // After the dialog's own handling of a change to client size (cx, cy): moves and grows
  // every registered control by its shares, then redraws the grip's old and new places.
  void onSize(int cx, int cy);
  // The dialog is going away: disable before its own handling runs.
  void onDestroy() { enable(false); }

 private:
  ResizeRect computeGripRect(int cx, int cy) const;

  ResizeHost* m_host = nullptr;
  int m_maxPart = 100;
  bool m_enabled = false;
  bool m_hadSizingBorder = false;
  ResizeSize m_lastClient;
  ResizeSize m_minTrack{-1, -1};
  ResizeSize m_maxTrack{-1, -1};
  bool m_gripShown = false;
  ResizeRect m_gripRect;
  std::vector<ResizeItem> m_items;
  bool m_inResize = false;  // re-entry guard
};

}  // namespace palvoro
