#include <webcam/xmlrpc.h>

#include <ros/master.h>
#include <ros/network.h>
#include <ros/xmlrpc_manager.h>

namespace webcam {

XmlRpcValue Args(std::initializer_list<XmlRpcValue> values)
{
    XmlRpcValue args;
    args.setSize(int(values.size()));
    int i = 0;
    for (const XmlRpcValue &v : values)
        args[i++] = v;
    return args;
}

bool Call(const std::string &host, uint32_t port, const std::string &method, const XmlRpcValue &args,
          XmlRpcValue &result)
{
    XmlRpc::XmlRpcClient *client = ros::XMLRPCManager::instance()->getXMLRPCClient(host, int(port), "/");
    const bool sent = client->execute(method.c_str(), args, result) && !client->isFault();
    ros::XMLRPCManager::instance()->releaseXMLRPCClient(client);
    return sent && result.getType() == XmlRpcValue::TypeArray && result.size() == 3 &&
           result[0].getType() == XmlRpcValue::TypeInt;
}

bool CallUri(const std::string &uri, const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    std::string host;
    uint32_t port = 0;
    return ros::network::splitURI(uri, host, port) && Call(host, port, method, args, result);
}

bool CallMaster(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    return Call(ros::master::getHost(), ros::master::getPort(), method, args, result);
}

bool CallSelf(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    std::string host;
    uint32_t port = 0;
    return ros::network::splitURI(ros::XMLRPCManager::instance()->getServerURI(), host, port) &&
           Call("127.0.0.1", port, method, args, result);
}

}  // namespace webcam
