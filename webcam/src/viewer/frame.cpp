// The per-frame pipeline: one progress character per frame, and while
// shown: equalize, scale to the canvas, display.

#include "viewer/Orlin.h"
#include "viewer/display.h"
#include "viewer/equalize.h"
#include "viewer/window.h"

#include <webcam/equalize_core.h>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>

namespace {

// Whether the viewer's window is on the screen. HighGUI throws when it has
// made no window at all yet.
bool WindowUp()
{
    try {
        return cv::getWindowProperty(kWindowName, cv::WND_PROP_VISIBLE) > 0;
    } catch (const cv::Exception &) {
        return false;
    }
}

}  // namespace

void Orlin::image_cb(const image_msgs::ImagePtr &msg)
{
    img = msg;
    bridge.fromImage(*img, "");
    mark();
}

void Orlin::shared_image_cb(const image_msgs::ImageConstPtr &msg)
{
    sharedImg = msg;
    bridge.fromImage(*sharedImg, "");
    mark();
}

void Orlin::mark()
{
    ++frameCallbacks_;
    if (!showing) {
        putchar('.');
    } else {
        putchar('#');
        fflush(stdout);
        fromROS = bridge.toIpl();
        showFrame();
    }
    fflush(stdout);
}

// A frame without a displayable view (no conversion, unknown layout) shows
// nothing; the previous canvas stays up.
void Orlin::showFrame()
{
    cv::Mat frame = webcam::DisplayFrame(fromROS, converted_);
    if (frame.empty())
        return;
    const bool ours = webcam::CanvasResize::Handles(frame.cols, frame.rows, resized.cols, resized.rows);
    if (useHistogramEqualization && frames_ == Frames::Shared && ours) {
        // Counted over the whole frame, looked up only where the scaling
        // reads: the canvas of the frame equalized first, with no
        // equalized copy of it written.
        webcam::EqualizeTables(frame.data, frame.step[0], frame.rows, frame.cols, curves_);
        scale(frame, &curves_, ours);
    } else {
        if (useHistogramEqualization && frames_ == Frames::Shared && frame.data == fromROS.data) {
            equalized.create(frame.size(), CV_8UC3);
            webcam::EqualizeClipped(frame, equalized);
            frame = equalized;
        } else if (useHistogramEqualization) {
            histogramEqualization(frame);
        }
        scale(frame, nullptr, ours);
    }
    // A window the user closed comes back with the next frame, plain as before
    // (imshow alone would make one with HighGUI's default toolbar).
    webcam::ForeignCall opencv;  // HighGUI allocates for itself on every call
    if (!WindowUp())
        openWindow();
    cv::imshow(kWindowName, resized);
    // The node gives HighGUI its 5 ms a frame. The one-process viewer,
    // whose window is pumped between frames as well, lets Qt paint and
    // returns: each millisecond of waitKey is one more round of Qt's event
    // processing and a sleep, and the next frame waits behind them.
    cv::waitKey(frames_ == Frames::Owned ? 5 : 1);
    pumped_ = ros::WallTime::now();
}

// Camera sizes (ours) by our own scaling, every other one by OpenCV's; the
// bytes are the same.
void Orlin::scale(const cv::Mat &frame, const webcam::CanvasLut *curves, bool ours)
{
    if (ours) {
        canvas_({frame.data, frame.step[0], frame.cols, frame.rows},
                {resized.data, resized.step[0], resized.cols, resized.rows}, curves);
        return;
    }
    webcam::ForeignCall opencv;  // its coefficient tables and parallel tasks, on every call
    cv::resize(frame, resized, resized.size(), 0, 0, cv::INTER_LINEAR);
}

void Orlin::histogramEqualization(cv::Mat &frame)
{
    webcam::EqualizeClipped(frame);
}
