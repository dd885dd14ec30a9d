#include "engine/device_nodes.h"

#include <cstdio>

#include "engine/inf_text.h"
#include "log/operation_log.h"
#include "platform/unique_handles.h"

namespace {

// A text property of the node; empty when it has none.
std::wstring TextProperty(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
    std::vector<wchar_t> buffer(256);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD type = 0;
        DWORD needed = 0;
        if (win32.SetupDiGetDeviceRegistryPropertyW(
                set, &data, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
                static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &needed)) {
            if (type != REG_SZ)
                return {};
            buffer.push_back(L'\0');  // a value stored without its NUL ends here
            return buffer.data();
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
        buffer.assign(needed / sizeof(wchar_t) + 1, L'\0');
    }
    return {};
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    swprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
             guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
             guid.Data4[6], guid.Data4[7]);
    return text;
}

// A text value of an open key; empty when it has none.
std::wstring TextValue(HKEY key, const wchar_t* name) {
    wchar_t value[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = MAX_PATH * sizeof(wchar_t);
    if (win32.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return value;
}

// The driver key's InfPath and DriverDesc, read only; none for a node
// without a driver.
void ReadDriverKey(HDEVINFO set, SP_DEVINFO_DATA& data, DeviceNode& node) {
    const HKEY opened =
        win32.SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (opened == INVALID_HANDLE_VALUE || opened == nullptr)
        return;
    const unique_hkey key(opened);
    node.infPath = TextValue(key.get(), L"InfPath");
    node.driverDescription = TextValue(key.get(), L"DriverDesc");
}

DeviceNode NodeOf(HDEVINFO set, SP_DEVINFO_DATA& data) {
    DeviceNode node;
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (win32.SetupDiGetDeviceInstanceIdW(set, &data, id, MAX_DEVICE_ID_LEN + 1, nullptr))
        node.instanceId = id;
    node.deviceClass = TextProperty(set, data, SPDRP_CLASS);
    if (node.deviceClass.empty())
        node.deviceClass = GuidText(data.ClassGuid);
    node.description = TextProperty(set, data, SPDRP_FRIENDLYNAME);
    if (node.description.empty())
        node.description = TextProperty(set, data, SPDRP_DEVICEDESC);
    ReadDriverKey(set, data, node);
    return node;
}

}  // namespace

std::vector<DeviceNode> EnumerateDeviceNodes() {
    std::vector<DeviceNode> nodes;
    // Without DIGCF_PRESENT: a printer unplugged now is still bound to its
    // package, and Windows would bind it again when it is plugged in.
    const unique_devinfo set(
        win32.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!set) {
        WriteLog(L"SetupDiGetClassDevs", true);
        return nodes;
    }
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD index = 0; win32.SetupDiEnumDeviceInfo(set.get(), index, &data); ++index) {
        DeviceNode node = NodeOf(set.get(), data);
        if (!node.instanceId.empty())
            nodes.push_back(std::move(node));
    }
    return nodes;
}

bool RemoveDevice(const DeviceNode& device, bool& restartNeeded) {
    const unique_devinfo set(win32.SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set) {
        WriteLog(L"SetupDiCreateDeviceInfoList", true);
        return false;
    }
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!win32.SetupDiOpenDeviceInfoW(set.get(), device.instanceId.c_str(), nullptr, 0, &data)) {
        if (::GetLastError() == ERROR_NO_SUCH_DEVINST)
            return true;  // gone already, with its queue
        WriteLog(L"SetupDiOpenDeviceInfo" + device.instanceId, true);
        return false;
    }
    if (!win32.SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &data)) {
        WriteLog(L"SetupDiCallClassInstaller" + device.instanceId, true);
        return false;
    }
    SP_DEVINSTALL_PARAMS_W params{};
    params.cbSize = sizeof params;
    // Parameters that cannot be read say nothing of what Windows still has
    // to do: a restart is the safe answer.
    restartNeeded = !win32.SetupDiGetDeviceInstallParamsW(set.get(), &data, &params) ||
                    (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
    return true;
}

std::vector<DeviceNode> DevicesOfModel(const std::vector<DeviceNode>& devices,
                                       const std::wstring& model) {
    std::vector<DeviceNode> found;
    const std::wstring wanted = UpperAsciiOf(model);
    for (const DeviceNode& device : devices) {
        if (!wanted.empty() && !device.infPath.empty() &&
            UpperAsciiOf(device.driverDescription) == wanted) {
            found.push_back(device);
        }
    }
    return found;
}
