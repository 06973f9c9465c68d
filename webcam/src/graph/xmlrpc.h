// XML-RPC calls to the ROS APIs: the master's and the nodes' slave APIs
// (this node's own among them, which roscpp serves on its XML-RPC thread).
//
// xmlrpcpp's client waits for an answer without end, and a host that is cut
// off, or a master that accepts a connection and never answers, would hold
// its caller for good. These calls are made here instead, over sockets of
// their own: each is one attempt with a deadline (the name look-up within
// it), and ends early once the process is ending or its thread's cancel
// flag is set. Nothing is logged: roscpp's master::execute logs every
// failed attempt, which while a master is away would be once a second.
#pragma once

#include <xmlrpcpp/XmlRpcValue.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace webcam {

using XmlRpc::XmlRpcValue;

constexpr int kCallMs = 1000;  // the deadline of one call

XmlRpcValue Args(std::initializer_list<XmlRpcValue> values);

// result is the whole answer, [code, status, value]; true when an answer
// of that shape came within kCallMs.
bool Call(const std::string &host, uint32_t port, const std::string &method, const XmlRpcValue &args,
          XmlRpcValue &result);
bool CallUri(const std::string &uri, const std::string &method, const XmlRpcValue &args, XmlRpcValue &result);
bool CallMaster(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result);
// This node's own, on the loopback address: it answers there whatever
// address it announces. Refused once roscpp shuts down (its server stops).
bool CallSelf(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result);

// Whether result is an answer that succeeded (code 1).
inline bool Succeeded(const XmlRpcValue &result)
{
    return int(const_cast<XmlRpcValue &>(result)[0]) == 1;
}

// Why the last call on this thread failed ("" after one that answered).
const std::string &CallError();

// Whether something accepts a TCP connection at host:port within
// timeoutMs, at the address roscpp itself connects to (the first IPv4 one,
// or the first IPv6 one where ROS_IPV6 is "on"); why says what failed.
bool Answers(const std::string &host, uint32_t port, int timeoutMs, std::string &why);

// Calls on this thread end early once *cancel is set (nullptr: only when
// the process ends).
void CancelCallsWith(const std::atomic<bool> *cancel);

// From now on every call ends at once and new ones are refused: the
// process is ending. Safe in a signal handler.
void EndCalls();

}  // namespace webcam
