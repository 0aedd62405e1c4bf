#pragma once
// What the HTML viewer computes before it shows anything: the address it loads and where
// its page area goes when the window changes size.

#include <string>

namespace palvoro {

// The viewer's title until the caller gives one.
inline constexpr const char* kViewerDefaultTitle = "View File";

// Gap kept between the page area and the left, right and bottom edges of the window.
inline constexpr int kViewerMargin = 10;

// The address the viewer loads: the program's folder (ending with its separator) followed
// by the file name, a plain file-system path. Whether the file exists is not checked.
inline std::string viewerAddress(const std::string& programDir, const std::string& file) {
  return programDir + file;
}

// The page area for a client area of `clientWidth` x `clientHeight`: the top edge stays at
// `top`, the other three edges keep kViewerMargin from the client area's edges. Width and
// height never go below 0.
struct ViewerRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};
inline ViewerRect viewerBrowserRect(int clientWidth, int clientHeight, int top) {
  ViewerRect rect;
  rect.left = kViewerMargin;
  rect.top = top;
  rect.width = clientWidth - 2 * kViewerMargin;
  rect.height = clientHeight - kViewerMargin - top;
  if (rect.width < 0) rect.width = 0;
  if (rect.height < 0) rect.height = 0;
  return rect;
}

}  // namespace palvoro
