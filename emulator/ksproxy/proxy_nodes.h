// The device nodes of the stand-in proxy's virtual cameras: what the proxy's
// own installer and PnP would do on Windows, done through SetupAPI.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace orvo::emu {

struct ProxyNode {
    std::wstring instanceId;
    std::wstring interfacePath;  // as SetupAPI reports it
    GUID camera{};
};

// A media-class node carrying the camera's GUID as DEVPKEY_ProxyCameraId,
// with a KSCATEGORY_CAPTURE interface marked Linked.
bool CreateProxyNode(const GUID& camera, const std::wstring& friendlyName, ProxyNode& node, std::wstring& error);
// Every node that carries a camera GUID.
std::vector<ProxyNode> ListProxyNodes();
// Undoes CreateProxyNode for that camera; false when no node carries it.
bool RemoveProxyNode(const GUID& camera, ProxyNode* removed);

// The interface path as Windows spells it in broadcasts.
std::wstring BroadcastPath(const std::wstring& path);
void BroadcastInterface(WPARAM event, const std::wstring& path);

}  // namespace orvo::emu
