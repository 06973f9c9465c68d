#include <webcam/stream_watch.h>

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

double StreamWatch::usualDelay() const
{
    return Median(delays_);
}

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

bool StreamWatch::arrived(double now, double stamp, uint32_t seq)
{
    if (!arrivals_.empty())
        gaps_.push_back(now - arrivals_.back().now);
    while (gaps_.size() > kGapsKept)
        gaps_.pop_front();
    arrivals_.push_back({now, stamp, seq});
    while (arrivals_.size() > kArrivalsKept || (arrivals_.size() > 1 && now - arrivals_.front().now > kWindow))
        arrivals_.pop_front();

    if (stamp == 0)
        return true;
    if (stamp < lastStamp_) {  // a bag played again, a camera's clock set back: a new timeline
        delays_.clear();
        held_.clear();
    }
    lastStamp_ = stamp;
    const double delay = now - stamp;
    bool show = delays_.empty() || delay <= usualDelay() + kStale;
    if (!show) {
        held_.emplace_back(now, delay);
        while (held_.size() > 1 && now - held_[1].first >= kSettle)
            held_.pop_front();  // the first one of them kSettle old or older
        // A backlog draining comes ever less late; a stream that is now
        // this late for good stays so.
        double lo = delay, hi = delay;
        for (const auto &h : held_)
            lo = std::min(lo, h.second), hi = std::max(hi, h.second);
        if (now - held_.front().first >= kSettle && hi - lo < kStale) {
            delays_.clear();
            for (const auto &h : held_)
                delays_.push_back(h.second);
            show = true;
        }
    }
    if (show) {
        held_.clear();
        delays_.push_back(delay);
        while (delays_.size() > kDelaysKept)
            delays_.pop_front();
    }
    return show;
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
    if (last.now - first.now < kWindow * 0.9 || last.stamp <= first.stamp || last.seq <= first.seq)
        return false;
    received = (arrivals_.size() - 1 - from) / (last.now - first.now);
    sent = (last.seq - first.seq) / (last.stamp - first.stamp);
    if (received >= 0.8 * sent)
        return false;
    saidThin_ = true;
    return true;
}

}  // namespace webcam
