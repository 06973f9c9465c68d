#include "viewer/window.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

namespace webcam {

int gForeignCalls = 0;

std::string WindowProblem()
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0)
        return "";
    const char *name = std::getenv("DISPLAY");
    if (!name || !*name)
        return "cannot open a window: no X display (DISPLAY is not set)";
    Display *display = XOpenDisplay(name);
    if (!display)
        return std::string("cannot open a window: X display '") + name + "' cannot be opened";
    XCloseDisplay(display);
    return "";
}

}  // namespace webcam
