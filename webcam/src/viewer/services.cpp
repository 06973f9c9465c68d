// The nine control services. Every handler answers (returns true); a refusal
// travels in the response as ok = 0 with an error text.

#include "viewer/Orlin.h"
#include "viewer/window.h"

#include <opencv2/highgui.hpp>

#include <cctype>
#include <string>

namespace {

template <class Response> void Refuse(Response &res, std::string why)
{
    res.ok = 0;
    res.error = std::move(why);
}

template <class Response> void Done(Response &res)
{
    res.ok = 1;
    res.error = "";
}

void Lower(std::string &s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

bool Orlin::help(webcam::help::Request &, webcam::help::Response &res)
{
    res.text = "todo: No help available yet.";
    return true;
}

bool Orlin::dump(webcam::dump::Request &, webcam::dump::Response &res)
{
    Refuse(res, "todo: dump to file not implemented.");
    return true;
}

bool Orlin::dumpstop(webcam::dumpstop::Request &, webcam::dumpstop::Response &res)
{
    Refuse(res, "todo: dump/stop to file not implemented.");
    return true;
}

bool Orlin::play(webcam::play::Request &, webcam::play::Response &res)
{
    Refuse(res, "todo: playing from file not implemented.");
    return true;
}

bool Orlin::playstop(webcam::playstop::Request &, webcam::playstop::Response &res)
{
    Refuse(res, "todo: dump/stop to file not implemented.");
    return true;
}

// Without a display the viewer stays hidden and says why: HighGUI would
// end the process. Once a window was made, Qt holds its X connection.
bool Orlin::show(webcam::show::Request &, webcam::show::Response &res)
{
    if (!windowPossible_) {
        std::string why = webcam::WindowProblem();
        if (!why.empty()) {
            Refuse(res, std::move(why));
            return true;
        }
        windowPossible_ = true;
    }
    showing = true;
    openWindow();
    Done(res);
    return true;
}

// HighGUI throws when asked to destroy a window it never made, so only a
// shown viewer (which has one) destroys it; hiding always succeeds.
bool Orlin::hide(webcam::hide::Request &, webcam::hide::Response &res)
{
    const bool hadWindow = showing;
    showing = false;
    if (hadWindow) {
        cv::destroyWindow(kWindowName);
        cv::waitKey(1);  // lets Qt take the window off the screen now
    }
    Done(res);
    return true;
}

bool Orlin::info(webcam::info::Request &, webcam::info::Response &res)
{
    res.text = "todo: info not implemented.";
    return true;
}

bool Orlin::set(webcam::setting::Request &req, webcam::setting::Response &res)
{
    Lower(req.setting);
    Lower(req.value);
    if (req.setting != "he" && req.setting != "histogramequalization") {
        Refuse(res, req.setting + ": no such setting. Try 'info camera_viewer' for available settings.");
        return true;
    }
    if (req.value == "on")
        useHistogramEqualization = true;
    else if (req.value == "off")
        useHistogramEqualization = false;
    else
        useHistogramEqualization = !useHistogramEqualization;
    Done(res);
    return true;
}
