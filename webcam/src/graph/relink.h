// Links anew to a quiet stream's publishers once their hosts answer again.
// Its calls have deadlines (xmlrpc.h): call it from a thread of its own.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace webcam {

// A subscription gone quiet while its publishers are still linked: TCP
// retries a cut link with a backoff that doubles up to two minutes, and
// then first delivers what it held. Relink probes the publishers' hosts
// while the stream is quiet, and once a host that stopped answering answers
// again, drops that link and makes a new one at once; links to the other
// publishers stay, whether they answer or not. Its probes go only to the
// addresses the publishers announced, four times a second at first and
// once a second once a quiet stream's publishers have answered for a while
// (a camera idle on purpose).
class Relink {
public:
    static constexpr int kProbeMs = 200;
    static constexpr double kRetry = 3.0;  // s between tries while no link comes

    struct Outcome {
        bool cut = false;                   // a probe failed, or a link was made anew
        std::vector<std::string> relinked;  // the publishers linked anew
        std::string failed;                 // why linking anew failed
    };

    // Called a few times a second with whether the stream is quiet (now:
    // this host's monotonic clock, s).
    Outcome check(const std::string &topic, bool quiet, double now);

private:
    std::set<std::string> known_;  // linked in this quiet spell
    std::set<std::string> lost_;   // of them, failed a probe in it
    double quietSince_ = -1, nextProbe_ = 0, relinked_ = -1e9;
};

}  // namespace webcam
