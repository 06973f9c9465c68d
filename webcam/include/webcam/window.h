#pragma once

// The one display window of the viewer.
constexpr const char *kWindowName = "camera_window";
