// What the relay learns of a camera's stream from the frames that reach it,
// with no clock shared with the camera: each frame's delay (arrival here
// minus its stamp there) is only compared with the delays of the frames
// before it, so a fixed offset between the two hosts' clocks cancels out.
//
// - Frames stuck on the way: after a cut link, TCP delivers what it still
//   held, seconds old. A frame whose delay exceeds the stream's usual delay
//   by more than kStale is held back. A slower link or a clock set anew
//   changes the usual delay for good: once the frames held back have agreed
//   with each other for kSettle, their delay is the usual one. Stamps that
//   go back (a bag played in a loop) start the judgement anew.
// - Gone quiet: no frame for five of the stream's usual intervals, and at
//   least a second.
// - A thin link: over kWindow, fewer than 80% of the frames the camera sent
//   (its sequence numbers against its stamps) arrive.
#pragma once

#include <cstdint>
#include <deque>

namespace webcam {

class StreamWatch {
public:
    static constexpr double kStale = 0.5;   // s
    static constexpr double kSettle = 1.0;  // s
    static constexpr double kWindow = 5.0;  // s

    // A frame arrived at now (this host's clock, s), stamped stamp (the
    // camera's clock, s; 0: not stamped) with the publisher's sequence
    // number seq. Returns whether to show it.
    bool arrived(double now, double stamp, uint32_t seq);

    bool quiet(double now) const;

    // Once in the watch's life: true when the stream is thin, with the
    // frames a second that arrive and that the camera sends.
    bool thin(double &received, double &sent);

private:
    struct Arrival {
        double now, stamp;
        uint32_t seq;
    };
    double usualDelay() const;
    double usualInterval() const;
    double quietAfter() const;

    std::deque<double> delays_;                   // of the last frames shown
    std::deque<std::pair<double, double>> held_;  // (arrival, delay) of the frames held back in a row
    std::deque<Arrival> arrivals_;                // over the last kWindow
    std::deque<double> gaps_;                     // between the last arrivals
    double lastStamp_ = 0;
    bool saidThin_ = false;
};

}  // namespace webcam
