#include "graph/relink.h"

#include "graph/topic_graph.h"

#include <algorithm>
#include <iterator>

namespace webcam {

Relink::Outcome Relink::check(const std::string &topic, bool quiet, double now)
{
    Outcome o;
    if (!quiet) {
        known_.clear();
        lost_.clear();
        quietSince_ = -1;
        return o;
    }
    if (quietSince_ < 0)
        quietSince_ = nextProbe_ = now;
    if (now < nextProbe_)
        return o;
    // While a cut link is quiet, TCP still holds it: it is listed yet.
    const std::vector<std::string> linked = LinkedPublishers(topic);
    known_.insert(linked.begin(), linked.end());
    std::vector<std::string> back, answering;
    for (const std::string &uri : known_) {
        if (!Unreachable(uri, kProbeMs).empty()) {
            o.cut |= lost_.insert(uri).second;
            continue;
        }
        answering.push_back(uri);
        if (lost_.count(uri))
            back.push_back(uri);
    }
    // Linked anew before, and roscpp has dropped that link since.
    if (back.empty() && linked.empty() && now - relinked_ > kRetry)
        back = answering;
    const bool slow = lost_.empty() && now - quietSince_ > 5.0;
    nextProbe_ = now + (slow ? 1.0 : 0.25) - 0.01;
    if (back.empty())
        return o;
    // Drop the links to those back (and whatever TCP still holds in them),
    // then give the whole list again: roscpp links anew to what is new in
    // it and keeps the rest.
    std::vector<std::string> all(known_.begin(), known_.end()), others;
    std::set_difference(all.begin(), all.end(), back.begin(), back.end(), std::back_inserter(others));
    relinked_ = now;
    o.cut = true;
    o.failed = SetPublishers("", topic, others);
    if (o.failed.empty())
        o.failed = SetPublishers("", topic, all);
    if (!o.failed.empty())
        return o;
    for (const std::string &uri : back)
        lost_.erase(uri);
    o.relinked = back;
    return o;
}

}  // namespace webcam
