// The relay's watch on a stream, fed the arrivals of simulated cameras,
// bags and links, with the relay's own part played here: while the stream
// is quiet it probes four times a second and sees a cut when the link is
// down.
#include "relay/stream_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

using webcam::StreamWatch;

namespace {

struct Arrival {
    double at, stamp;
    uint32_t seq;
};

// n frames; frame i arrives at at(i) stamped stamp(i).
std::vector<Arrival> Stream(int n, std::function<double(int)> at, std::function<double(int)> stamp)
{
    std::vector<Arrival> out;
    for (int i = 0; i < n; i++)
        out.push_back({at(i), stamp(i), uint32_t(i)});
    return out;
}

// A camera at rate for seconds, stamped by its own clock (offset from
// ours); frames sent while the link is down in [cutFrom, cutTo) arrive at
// cutTo + 0.05 s (what TCP held), the others after delay(sent).
std::vector<Arrival> Camera(double rate, double seconds, std::function<double(double)> delay, double cutFrom = -1,
                            double cutTo = -1, double offset = 0)
{
    std::vector<Arrival> out;
    for (uint32_t n = 0; n < rate * seconds; n++) {
        const double sent = n / rate;
        double at = sent >= cutFrom && sent < cutTo ? cutTo + 0.05 : sent + delay(sent);
        if (!out.empty())
            at = std::max(at, out.back().at + 1e-4);
        out.push_back({at, sent + offset + 1000, n});
    }
    return out;
}

// The frames shown (their indices) to a relay whose probes fail in
// [cutFrom, cutTo).
std::vector<int> Shown(const std::vector<Arrival> &arrivals, double cutFrom = -1, double cutTo = -1)
{
    StreamWatch watch;
    std::vector<int> shown;
    double probe = 0;
    for (size_t i = 0; i < arrivals.size(); i++) {
        for (; probe < arrivals[i].at; probe += 0.25)
            if (watch.quiet(probe) && probe >= cutFrom && probe < cutTo)
                watch.cut();
        if (watch.arrived(arrivals[i].at, arrivals[i].stamp, arrivals[i].seq))
            shown.push_back(int(i));
    }
    return shown;
}

double Steady(double) { return 0.02; }

}  // namespace

TEST(StreamWatch, ShowsEveryFrameOfAStreamNoCutWasSeenIn)
{
    // A bag of 10 frames a second played at rate: frame i arrives at i / (10 rate).
    const auto bag = [](double rate, double pauseAt = 1e9, double pause = 0) {
        return Stream(100, [=](int i) { return i / (10 * rate) + (i >= pauseAt ? pause : 0); },
                      [](int i) { return 1e6 + i / 10.0; });
    };
    const struct {
        const char *name;
        std::vector<Arrival> arrivals;
    } cases[] = {
        {"a live camera", Camera(30, 20, Steady)},
        {"a driver that stamps once", Stream(60, [](int i) { return i / 5.0; }, [](int) { return 1e6; })},
        {"zero stamps", Stream(60, [](int i) { return i / 5.0; }, [](int) { return 0.0; })},
        {"a bag at -r 0.1", bag(0.1)},
        {"a bag at -r 0.25", bag(0.25)},
        {"a bag at -r 0.5", bag(0.5)},
        {"a bag at -r 1", bag(1)},
        {"a bag at -r 2", bag(2)},
        {"a bag paused for 8 s", bag(1, 50, 8)},
        {"a bag at -r 3 paused for 8 s", bag(3, 50, 8)},
        {"a camera's clock an hour behind", Camera(30, 10, Steady, -1, -1, -3600)},
        {"a camera's clock an hour ahead", Camera(30, 10, Steady, -1, -1, 3600)},
        {"a camera that changes rate",
         Stream(200, [](int i) { return i < 100 ? i / 30.0 : 100 / 30.0 + (i - 100) / 5.0; },
                [](int i) { return 1e6 + (i < 100 ? i / 30.0 : 100 / 30.0 + (i - 100) / 5.0); })},
        {"a triggered camera", Stream(8, [](int i) { return i * 2.5; }, [](int i) { return 1e6 + i * 2.5; })},
        {"a link 3 s slower for good", Camera(30, 10, [](double t) { return t < 4 ? 0.02 : 3.02; })},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Shown(c.arrivals).size(), c.arrivals.size()) << c.name;
}

TEST(StreamWatch, AfterACutHoldsBackOnlyWhatTheLinkHeld)
{
    // Shown: the frames no more than kStale later than before the cut.
    for (double offset : {0.0, -3600.0, 37.5}) {
        const auto arrivals = Camera(30, 20, Steady, 5, 15, offset);
        std::vector<int> onTime;
        for (size_t i = 0; i < arrivals.size(); i++)
            if (arrivals[i].at - (arrivals[i].stamp - offset - 1000) <= 0.02 + StreamWatch::kStale)
                onTime.push_back(int(i));
        EXPECT_LT(onTime.size(), 320u);
        EXPECT_EQ(Shown(arrivals, 5, 15), onTime) << "the camera's clock " << offset << " s off";
    }
    // A backlog of 10 s draining at three frames for every one sent: none
    // of it is shown until the frames are on time again.
    const auto backlog = [](double t) { return t < 2 ? 0.02 : std::max(0.02, 10 - (t - 2) * 2 / 3); };
    const auto shown = Shown(Camera(30, 20, backlog), 2, 12);
    for (int i : shown)
        EXPECT_LT(backlog(i / 30.0), 0.02 + StreamWatch::kStale + 1e-9) << i;
    EXPECT_EQ(shown.back(), 599);
}

TEST(StreamWatch, HoldsBackForNoLongerThanTheCutLasted)
{
    // A driver that stamps once, its link cut for 10 s: every frame after
    // it seems late. It is shown again once as long has passed as it was
    // quiet (10.2 s: frame 50 comes at 20 s, the last one before at 9.8 s),
    // and from then on whole.
    const auto fixed = Stream(300, [](int i) { return i < 50 ? i / 5.0 : 10 + i / 5.0; }, [](int) { return 1e6; });
    const auto shown = Shown(fixed, 10, 20);
    std::vector<int> after(std::find(shown.begin(), shown.end(), 49) + 1, shown.end());
    ASSERT_FALSE(after.empty());
    EXPECT_GE(after.front(), 101);  // at 30.2 s
    EXPECT_LE(after.front(), 102);
    EXPECT_EQ(after.size(), 300u - after.front());
    // A bag whose player went away for 4 s, its stamps going on from where
    // they were, and a loop that starts again: each shown once it is on time.
    const auto looped = Stream(200, [](int i) { return i < 50 ? i / 10.0 : 9 + i / 10.0; },
                               [](int i) { return 1e6 + (i % 100) / 10.0; });
    const auto again = Shown(looped, 5, 9);
    EXPECT_TRUE(std::find(again.begin(), again.end(), 100) != again.end());
    EXPECT_EQ(again.back(), 199);
}

TEST(StreamWatch, QuietAfterFiveIntervalsAndASecond)
{
    const struct {
        double rate, quietAfter;
    } cases[] = {{30, 1.0}, {2, 2.5}, {0.5, 10.0}};
    for (const auto &c : cases) {
        StreamWatch watch;
        EXPECT_FALSE(watch.quiet(0));
        const auto arrivals = Camera(c.rate, 20, Steady);
        for (const Arrival &a : arrivals)
            watch.arrived(a.at, a.stamp, a.seq);
        EXPECT_FALSE(watch.quiet(arrivals.back().at + c.quietAfter - 0.01)) << c.rate;
        EXPECT_TRUE(watch.quiet(arrivals.back().at + c.quietAfter + 0.01)) << c.rate;
    }
}

TEST(StreamWatch, SaysOnceThatOnlyAFewOfTheFramesComeThrough)
{
    // Raw frames over a link that carries 2.26 a second: every 13th gets through.
    std::vector<Arrival> thin;
    for (const Arrival &a : Camera(30, 20, [](double) { return 1.0; }))
        if (a.seq % 13 == 0)
            thin.push_back(a);
    const struct {
        const char *name;
        std::vector<Arrival> arrivals;
        int said;
    } cases[] = {{"thin", thin, 1},
                 {"all through", Camera(30, 20, Steady), 0},
                 {"all through, a cut on the way", Camera(30, 20, Steady, 5, 15), 0},
                 {"a bag at -r 0.25: every frame numbered arrives",
                  Stream(100, [](int i) { return i / 2.5; }, [](int i) { return 1e6 + i / 10.0; }), 0}};
    for (const auto &c : cases) {
        StreamWatch watch;
        int said = 0;
        double received = 0, sent = 0;
        for (const Arrival &a : c.arrivals) {
            watch.arrived(a.at, a.stamp, a.seq);
            if (watch.thin(received, sent)) {
                said++;
                EXPECT_NEAR(received, 30 / 13.0, 0.1) << c.name;
                EXPECT_NEAR(sent, 30, 0.15) << c.name;
            }
        }
        EXPECT_EQ(said, c.said) << c.name;
    }
}
