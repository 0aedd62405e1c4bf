#pragma once
// Whether other application windows are open, so that the option dialog can ask the user
// to close them before a test touches the drive.

#include <cstdint>

#include "platform/platform.h"

namespace palvoro {

// The style bits that make a window an application window: caption, system menu, sizing
// border, minimise box, maximise box (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
// WS_MINIMIZEBOX | WS_MAXIMIZEBOX).
inline constexpr uint32_t kApplicationWindowStyles = 0x00CF0000;

// OpenProgramCheck: looks at every top-level window, in the order the platform lists them,
// and returns `otherProgramsOpen`: 1 when at least one is visible, has one of the
// application styles and a non-empty title (cut to 255 characters) that contains neither
// "PALVORO" (the program's own windows) nor "Internet Explorer"; otherwise 0.
int openProgramCheck(Platform& platform);

}  // namespace palvoro
