#include "graph/xmlrpc.h"

#include <ros/master.h>
#include <ros/network.h>
#include <ros/ros.h>
#include <ros/xmlrpc_manager.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

namespace webcam {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 50;                  // how often a wait looks at the cancel flags
constexpr size_t kMaxAnswer = size_t(16) << 20;  // a whole graph's state fits many times

std::atomic<bool> gEnding{false};
static_assert(std::atomic<bool>::is_always_lock_free, "EndCalls runs in a signal handler");
thread_local const std::atomic<bool> *tCancel = nullptr;
thread_local std::string tError;

bool Cancelled()
{
    return gEnding.load() || (tCancel && tCancel->load()) || ros::isShuttingDown();
}

int MsLeft(Clock::time_point deadline)
{
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// Waits until fd is ready for events, the deadline passes or the call is
// cancelled; true when ready.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const int left = MsLeft(deadline);
        if (left <= 0 || Cancelled())
            return false;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, std::min(left, kSliceMs));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// Name look-ups that outlived their deadline: glibc still owns them until
// they finish, and they are freed then.
struct Lookup {
    gaicb request{};
    addrinfo hints{};
    std::string host;
};
std::mutex gAbandonedMutex;
std::vector<Lookup *> gAbandoned;

void Free(Lookup *lookup)
{
    if (lookup->request.ar_result)
        freeaddrinfo(lookup->request.ar_result);
    delete lookup;
}

void ReapAbandoned()
{
    std::lock_guard<std::mutex> lock(gAbandonedMutex);
    auto done = std::partition(gAbandoned.begin(), gAbandoned.end(),
                               [](Lookup *l) { return gai_error(&l->request) == EAI_INPROGRESS; });
    std::for_each(done, gAbandoned.end(), Free);
    gAbandoned.erase(done, gAbandoned.end());
}

bool UseIpv6()
{
    const char *env = std::getenv("ROS_IPV6");
    return env && std::strcmp(env, "on") == 0;
}

std::string Describe(const std::string &host, uint32_t port)
{
    return host + ":" + std::to_string(port);
}

struct Address {
    sockaddr_storage at{};
    socklen_t size = 0;
};

// The first address of family in list, with port.
bool Pick(const addrinfo *list, int family, uint32_t port, Address &address)
{
    for (const addrinfo *a = list; a; a = a->ai_next)
        if (a->ai_family == family && a->ai_addrlen <= sizeof address.at) {
            std::memcpy(&address.at, a->ai_addr, a->ai_addrlen);
            address.size = a->ai_addrlen;
            // The port sits at the same place in sockaddr_in6.
            reinterpret_cast<sockaddr_in *>(&address.at)->sin_port = htons(uint16_t(port));
            return true;
        }
    return false;
}

// The address roscpp itself connects to for host: the first IPv4 one, or
// the first IPv6 one where ROS_IPV6 is "on". False with why when the name
// does not resolve within timeoutMs.
bool Resolve(const std::string &host, uint32_t port, Address &address, int timeoutMs, std::string &why)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int family = UseIpv6() ? AF_INET6 : AF_INET;
    addrinfo numeric{}, *written = nullptr;  // an address written as one: no look-up, no resolver thread
    numeric.ai_socktype = SOCK_STREAM;
    numeric.ai_flags = AI_NUMERICHOST;
    if (getaddrinfo(host.c_str(), nullptr, &numeric, &written) == 0) {
        const bool found = Pick(written, family, port, address);
        freeaddrinfo(written);
        if (!found)
            why = "'" + host + "' is no " + (family == AF_INET ? "IPv4" : "IPv6") + " address";
        return found;
    }
    ReapAbandoned();
    auto *lookup = new Lookup;
    lookup->host = host;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb *list[] = {&lookup->request};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        delete lookup;
        why = "'" + host + "' cannot be looked up";
        return false;
    }
    while (gai_error(&lookup->request) == EAI_INPROGRESS && MsLeft(deadline) > 0 && !Cancelled()) {
        const timespec slice{0, long(std::min(MsLeft(deadline), kSliceMs)) * 1000000};
        gai_suspend(list, 1, &slice);
    }
    const int status = gai_error(&lookup->request);
    if (status == EAI_INPROGRESS) {
        if (gai_cancel(&lookup->request) == EAI_CANCELED) {
            delete lookup;
        } else {
            std::lock_guard<std::mutex> lock(gAbandonedMutex);
            gAbandoned.push_back(lookup);
        }
        why = "'" + host + "' did not resolve within " + std::to_string(timeoutMs) + " ms";
        return false;
    }
    const bool found = status == 0 && Pick(lookup->request.ar_result, family, port, address);
    if (!found)
        why = status == 0 ? "'" + host + "' has no " + (family == AF_INET ? "IPv4" : "IPv6") + " address"
                          : "'" + host + "' does not resolve on this host";
    Free(lookup);
    return found;
}

// A connected socket to address, or -1 with why.
int ConnectTo(const Address &address, Clock::time_point deadline, std::string &why)
{
    const int fd = socket(address.at.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("no socket: ") + std::strerror(errno);
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address.at), address.size) == 0)
        return fd;
    int error = errno;
    if (error == EINPROGRESS) {
        socklen_t size = sizeof error;
        if (!WaitFor(fd, POLLOUT, deadline))
            error = ETIMEDOUT;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error == 0)
            return fd;
    }
    why = error == ETIMEDOUT ? "nothing answers" : std::strerror(error);
    close(fd);
    return -1;
}

bool SendAll(int fd, const std::string &data, Clock::time_point deadline)
{
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else if (!WaitFor(fd, POLLOUT, deadline))
            return false;
    }
    return true;
}

std::string Request(const std::string &host, uint32_t port, const std::string &method, const XmlRpcValue &args)
{
    std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method + "</methodName>\r\n<params>";
    XmlRpcValue &list = const_cast<XmlRpcValue &>(args);
    for (int i = 0; i < list.size(); i++)
        body += "<param>" + list[i].toXml() + "</param>";
    body += "</params></methodCall>\r\n";
    return "POST / HTTP/1.0\r\nUser-Agent: webcam\r\nHost: " + Describe(host, port) +
           "\r\nContent-Type: text/xml\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The HTTP answer read whole (the server closes an HTTP/1.0 connection
// once it answered; its Content-length says when the body is all there).
bool ReadAnswer(int fd, Clock::time_point deadline, std::string &answer)
{
    char buffer[65536];
    size_t want = 0;  // the whole answer's length, once the header says it
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return true;
        if (n > 0) {
            answer.append(buffer, size_t(n));
            if (answer.size() > kMaxAnswer)
                return false;
            const size_t head = answer.find("\r\n\r\n");
            if (!want && head != std::string::npos) {
                std::string header = answer.substr(0, head);
                std::transform(header.begin(), header.end(), header.begin(), ::tolower);
                const size_t at = header.find("content-length:");
                if (at != std::string::npos)
                    want = head + 4 + std::strtoul(header.c_str() + at + 15, nullptr, 10);
            }
            if (want && answer.size() >= want)
                return true;
        } else if (errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!WaitFor(fd, POLLIN, deadline)) {
            return false;
        }
    }
}

// The value of a methodResponse's one parameter; false for a fault.
bool Parse(const std::string &answer, XmlRpcValue &result)
{
    const size_t body = answer.find("\r\n\r\n");
    if (answer.compare(0, 5, "HTTP/") != 0 || body == std::string::npos ||
        answer.find(" 200 ") > answer.find("\r\n") || answer.find("<fault>", body) != std::string::npos)
        return false;
    const size_t param = answer.find("<param>", body);
    if (param == std::string::npos)
        return false;
    int offset = int(param + 7);
    return result.fromXml(answer, &offset);
}

}  // namespace

XmlRpcValue Args(std::initializer_list<XmlRpcValue> values)
{
    XmlRpcValue args;
    args.setSize(int(values.size()));
    int i = 0;
    for (const XmlRpcValue &v : values)
        args[i++] = v;
    return args;
}

bool Answers(const std::string &host, uint32_t port, int timeoutMs, std::string &why)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Address address;
    if (!Resolve(host, port, address, timeoutMs, why))
        return false;
    const int fd = ConnectTo(address, deadline, why);
    if (fd < 0) {
        why += " at " + Describe(host, port) + " from this host";
        return false;
    }
    close(fd);
    return true;
}

bool Call(const std::string &host, uint32_t port, const std::string &method, const XmlRpcValue &args,
          XmlRpcValue &result)
{
    const int timeoutMs = kCallMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string to = method + " at " + Describe(host, port);
    tError.clear();
    if (Cancelled()) {
        tError = to + ": not called, the node is ending";
        return false;
    }
    Address address;
    std::string why;
    if (!Resolve(host, port, address, timeoutMs, why)) {
        tError = to + ": " + why;
        return false;
    }
    const int fd = ConnectTo(address, deadline, why);
    if (fd < 0) {
        tError = to + ": " + why;
        return false;
    }
    std::string answer;
    const bool answered = SendAll(fd, Request(host, port, method, args), deadline) && ReadAnswer(fd, deadline, answer);
    close(fd);
    result.clear();
    if (!answered) {
        tError = to + ": no answer within " + std::to_string(timeoutMs) + " ms";
        return false;
    }
    if (!Parse(answer, result) || result.getType() != XmlRpcValue::TypeArray || result.size() != 3 ||
        result[0].getType() != XmlRpcValue::TypeInt) {
        tError = to + ": not an answer of the ROS API";
        return false;
    }
    return true;
}

bool CallUri(const std::string &uri, const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    std::string host;
    uint32_t port = 0;
    if (!ros::network::splitURI(uri, host, port)) {
        tError = "'" + uri + "' is not a node's address";
        return false;
    }
    return Call(host, port, method, args, result);
}

bool CallMaster(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    return Call(ros::master::getHost(), ros::master::getPort(), method, args, result);
}

bool CallSelf(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    std::string host;
    uint32_t port = 0;
    if (!ros::ok() || !ros::network::splitURI(ros::XMLRPCManager::instance()->getServerURI(), host, port)) {
        tError = method + ": not called, the node is not running";
        return false;
    }
    return Call(UseIpv6() ? "::1" : "127.0.0.1", port, method, args, result);
}

const std::string &CallError()
{
    return tError;
}

void CancelCallsWith(const std::atomic<bool> *cancel)
{
    tCancel = cancel;
}

void EndCalls()
{
    gEnding.store(true);
}

}  // namespace webcam
