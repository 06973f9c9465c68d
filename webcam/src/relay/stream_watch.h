// What the relay learns of a camera's stream from the frames that reach it,
// with no clock shared with the camera. Arrivals are on this host's
// monotonic clock (no /clock topic stops it), stamps on the camera's.
//
// - Frames stuck on the way: after a cut link, TCP delivers what it still
//   held, seconds old. Only once the relay has seen a cut itself (cut())
//   are frames held back: those whose delay (arrival here minus stamp
//   there) exceeds the delay before the cut by more than kStale, until the
//   first one back within that, or for as long as the cut lasted, at most.
//   A fixed offset between the hosts' clocks cancels out. Any other stream
//   is shown whole, whatever its stamps do: a bag played slowly or paused,
//   a driver that stamps once, zero stamps.
// - Gone quiet: no frame for five of the stream's usual intervals, and at
//   least a second.
// - A thin link: over kWindow, fewer than 80% of the frames the publisher
//   numbered (roscpp numbers every publish) arrive.
#pragma once

#include <cstdint>
#include <deque>

namespace webcam {

class StreamWatch {
public:
    static constexpr double kStale = 0.5;   // s
    static constexpr double kWindow = 5.0;  // s

    // A frame arrived at now (this host's clock, s), stamped stamp (the
    // camera's clock, s; 0: not stamped) with the publisher's sequence
    // number seq. Returns whether to show it.
    bool arrived(double now, double stamp, uint32_t seq);

    // The link to the publisher was cut (a probe of its host failed while
    // the stream was quiet) or made anew: what comes next may be what the
    // link held.
    void cut();

    bool quiet(double now) const;

    // Once in the watch's life: true when the stream is thin, with the
    // frames a second that arrive and that the publisher sends.
    bool thin(double &received, double &sent);

private:
    struct Arrival {
        double now;
        uint32_t seq;
    };
    double usualInterval() const;
    double quietAfter() const;

    std::deque<double> delays_;    // of the last frames shown
    std::deque<Arrival> arrivals_;  // over the last kWindow
    std::deque<double> gaps_;      // between the last arrivals
    double lastStamp_ = 0;
    bool cutSeen_ = false;    // a cut seen, no frame since
    double delayBefore_ = 0;  // the usual delay before it
    double holdUntil_ = 0;    // holding frames back until then (0: not holding)
    bool saidThin_ = false;
};

}  // namespace webcam
