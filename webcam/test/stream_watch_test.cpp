// The relay's watch on a camera stream, fed the arrivals of simulated links.
#include <webcam/stream_watch.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

using webcam::StreamWatch;

namespace {

struct Arrival {
    double at, sentAt;
    uint32_t seq;
};

// A camera at rate frames a second for seconds; frames sent in [cutFrom,
// cutTo) reach the other host at cutTo + 0.05 s (what TCP held), the others
// after delay(sentAt), all in the order sent.
std::vector<Arrival> Link(double rate, double seconds, std::function<double(double)> delay, double cutFrom = -1,
                          double cutTo = -1)
{
    std::vector<Arrival> out;
    for (uint32_t n = 0; n < rate * seconds; n++) {
        const double sent = n / rate;
        double at = sent >= cutFrom && sent < cutTo ? cutTo + 0.05 : sent + delay(sent);
        if (!out.empty())
            at = std::max(at, out.back().at + 1e-4);
        out.push_back({at, sent, n});
    }
    return out;
}

// The send times of the frames shown; the camera's clock off by offset.
std::vector<double> Shown(const std::vector<Arrival> &arrivals, double offset = 0)
{
    StreamWatch watch;
    std::vector<double> shown;
    for (const Arrival &a : arrivals)
        if (watch.arrived(a.at, a.sentAt + offset + 1000, a.seq))
            shown.push_back(a.sentAt);
    return shown;
}

double Steady(double) { return 0.02; }

}  // namespace

TEST(StreamWatch, HoldsBackWhatACutLinkHeldWhateverTheClocks)
{
    // Shown: exactly the frames no more than kStale later than the others.
    const auto arrivals = Link(30, 20, Steady, 5, 15);
    std::vector<double> onTime;
    for (const Arrival &a : arrivals)
        if (a.at - a.sentAt <= 0.02 + StreamWatch::kStale)
            onTime.push_back(a.sentAt);
    EXPECT_LT(onTime.size(), 320u);
    for (double offset : {0.0, -3600.0, 37.5})
        EXPECT_EQ(Shown(arrivals, offset), onTime) << "the camera's clock " << offset << " s off";
}

TEST(StreamWatch, TakesALastingChangeOfDelayAfterASecondButNotADrainingBacklog)
{
    // The link gets 3 s slower for good: at most a second's frames are lost.
    const auto slower = Shown(Link(30, 10, [](double t) { return t < 4 ? 0.02 : 3.02; }));
    EXPECT_GE(slower.size(), 300u - 31u);
    EXPECT_EQ(slower.back(), 299 / 30.0);
    // A backlog of 10 s draining at three frames for every one sent: the
    // frames keep coming, each less late than the one before, and none of
    // them is shown until they are on time again.
    const auto backlog = [](double t) { return t < 2 ? 0.02 : std::max(0.02, 10 - (t - 2) * 2 / 3); };
    const auto draining = Shown(Link(30, 20, backlog));
    for (double sent : draining)
        EXPECT_LT(backlog(sent), 0.02 + StreamWatch::kStale + 1e-9) << sent;
    EXPECT_EQ(draining.back(), 599 / 30.0);
    // A bag of 5 s played in a loop: its stamps go back 5 s at each start,
    // and every frame is shown.
    StreamWatch bag;
    int shown = 0;
    for (const Arrival &a : Link(30, 20, Steady))
        shown += bag.arrived(a.at, std::fmod(a.sentAt, 5.0) + 100, a.seq);
    EXPECT_EQ(shown, 600);
}

TEST(StreamWatch, QuietAfterFiveIntervalsAndASecond)
{
    const struct {
        double rate, quietAfter;
    } cases[] = {{30, 1.0}, {2, 2.5}, {0.5, 10.0}};
    for (const auto &c : cases) {
        StreamWatch watch;
        EXPECT_FALSE(watch.quiet(0));
        for (const Arrival &a : Link(c.rate, 20, Steady))
            watch.arrived(a.at, a.sentAt, a.seq);
        const double last = Link(c.rate, 20, Steady).back().at;
        EXPECT_FALSE(watch.quiet(last + c.quietAfter - 0.01)) << c.rate;
        EXPECT_TRUE(watch.quiet(last + c.quietAfter + 0.01)) << c.rate;
    }
}

TEST(StreamWatch, SaysOnceThatOnlyAFewOfTheFramesComeThrough)
{
    // Raw frames over a link that carries 2.26 a second: every 13th gets through.
    std::vector<Arrival> thin;
    for (const Arrival &a : Link(30, 20, [](double) { return 1.0; }))
        if (a.seq % 13 == 0)
            thin.push_back(a);
    const struct {
        const char *name;
        std::vector<Arrival> arrivals;
        int said;
    } cases[] = {{"thin", thin, 1}, {"all through", Link(30, 20, Steady), 0},
                 {"all through, a cut on the way", Link(30, 20, Steady, 5, 15), 0}};
    for (const auto &c : cases) {
        StreamWatch watch;
        int said = 0;
        double received = 0, sent = 0;
        for (const Arrival &a : c.arrivals) {
            watch.arrived(a.at, a.sentAt, a.seq);
            if (watch.thin(received, sent)) {
                said++;
                EXPECT_NEAR(received, 30 / 13.0, 0.1) << c.name;
                EXPECT_NEAR(sent, 30, 0.1) << c.name;
            }
        }
        EXPECT_EQ(said, c.said) << c.name;
    }
}
