#include "relay/stream_watch.h"

#include <algorithm>
#include <vector>

namespace webcam {

namespace {

constexpr size_t kDelaysKept = 15;
constexpr size_t kGapsKept = 15;
constexpr size_t kArrivalsKept = 512;

template <typename Values> double Median(const Values &values)
{
    std::vector<double> v(values.begin(), values.end());
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

}  // namespace

double StreamWatch::usualInterval() const
{
    return gaps_.empty() ? 0.0 : Median(gaps_);
}

double StreamWatch::quietAfter() const
{
    return std::max(1.0, 5 * usualInterval());
}

bool StreamWatch::quiet(double now) const
{
    return !arrivals_.empty() && now - arrivals_.back().now > quietAfter();
}

void StreamWatch::cut()
{
    // Judged against the delays before it; a stream never stamped, or a
    // cut seen before any frame, gives nothing to judge by.
    if (!delays_.empty() && !arrivals_.empty() && !cutSeen_) {
        cutSeen_ = true;
        delayBefore_ = Median(delays_);
    }
}

bool StreamWatch::arrived(double now, double stamp, uint32_t seq)
{
    const double lastArrival = arrivals_.empty() ? now : arrivals_.back().now;
    if (!arrivals_.empty())
        gaps_.push_back(now - lastArrival);
    while (gaps_.size() > kGapsKept)
        gaps_.pop_front();
    arrivals_.push_back({now, seq});
    while (arrivals_.size() > kArrivalsKept || (arrivals_.size() > 1 && now - arrivals_.front().now > kWindow))
        arrivals_.pop_front();

    if (cutSeen_) {  // the first frame since the cut: hold for as long as it lasted, at most
        cutSeen_ = false;
        holdUntil_ = now + (now - lastArrival);
    }
    if (stamp == 0) {
        holdUntil_ = 0;
        return true;
    }
    if (stamp < lastStamp_) {  // a bag played again, a camera's clock set back: a new timeline
        delays_.clear();
        holdUntil_ = 0;
    }
    lastStamp_ = stamp;
    const double delay = now - stamp;
    if (holdUntil_ > 0 && now < holdUntil_ && delay > delayBefore_ + kStale)
        return false;
    holdUntil_ = 0;  // back within the delay before the cut, or the backlog drained
    delays_.push_back(delay);
    while (delays_.size() > kDelaysKept)
        delays_.pop_front();
    return true;
}

bool StreamWatch::thin(double &received, double &sent)
{
    if (saidThin_ || arrivals_.size() < 3)
        return false;
    // Since the stream last went quiet: a gap is no measure of the link.
    size_t from = arrivals_.size() - 1;
    const double gap = quietAfter();
    while (from > 0 && arrivals_[from].now - arrivals_[from - 1].now <= gap)
        from--;
    const Arrival &first = arrivals_[from], &last = arrivals_.back();
    const double seconds = last.now - first.now;
    if (seconds < kWindow * 0.9 || last.seq <= first.seq)
        return false;
    // Every frame a bag plays slowly arrives: only frames numbered and
    // lost on the way count against the link.
    received = (arrivals_.size() - 1 - from) / seconds;
    sent = (last.seq - first.seq) / seconds;
    if (received >= 0.8 * sent)
        return false;
    saidThin_ = true;
    return true;
}

}  // namespace webcam
