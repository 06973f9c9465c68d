// XML-RPC calls to the ROS APIs: the master's and the nodes' slave APIs
// (this node's own among them, which roscpp serves on its XML-RPC thread).
// Each is one attempt: roscpp's master::execute logs every failed one,
// which while a master is away would be once a second.
#pragma once

#include <xmlrpcpp/XmlRpcValue.h>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace webcam {

using XmlRpc::XmlRpcValue;

XmlRpcValue Args(std::initializer_list<XmlRpcValue> values);

// result is the whole answer, [code, status, value]; true when an answer
// of that shape came.
bool Call(const std::string &host, uint32_t port, const std::string &method, const XmlRpcValue &args,
          XmlRpcValue &result);
bool CallUri(const std::string &uri, const std::string &method, const XmlRpcValue &args, XmlRpcValue &result);
bool CallMaster(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result);
// This node's own, on the loopback address: it answers there whatever
// address it announces.
bool CallSelf(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result);

// Whether result is an answer that succeeded (code 1).
inline bool Succeeded(const XmlRpcValue &result)
{
    return int(const_cast<XmlRpcValue &>(result)[0]) == 1;
}

}  // namespace webcam
