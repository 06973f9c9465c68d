#pragma once

#include <string>

// The one display window of the viewer, and the canvas it shows.
constexpr const char *kWindowName = "camera_window";
constexpr int kCanvasWidth = 640;
constexpr int kCanvasHeight = 480;

namespace webcam {

// Why no window can be opened here, or "" when one can. HighGUI's Qt ends
// the whole process when its first call finds no X display, so the viewer
// asks before it makes any window: no DISPLAY, or one that nobody serves.
// A Qt platform other than xcb (QT_QPA_PLATFORM) needs no X display.
std::string WindowProblem();

// Marks the OpenCV calls of the frame path (resize, HighGUI) while it
// lives, so that a test counting the frame path's heap allocations counts
// only our code's.
extern int gForeignCalls;  // the frame path runs on one thread
struct ForeignCall {
    ForeignCall() { ++gForeignCalls; }
    ~ForeignCall() { --gForeignCalls; }
    ForeignCall(const ForeignCall &) = delete;
    ForeignCall &operator=(const ForeignCall &) = delete;
};

}  // namespace webcam
