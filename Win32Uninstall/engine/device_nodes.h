// The machine's Plug and Play device nodes as the setup API keeps them, and
// the removal of one, as Device Manager's "Uninstall device" removes it.
//
// A printer plugged in by USB, or found on the network by WSD, has a device
// node whose driver key names the package Windows installed it from
// (InfPath, "oemN.inf"). A package removed while such a node remains leaves
// it bound to a driver that no longer exists: Device Manager keeps it with a
// warning sign, and when the printer is plugged in again Windows finds a
// configured device instead of installing it afresh. So a removal takes the
// nodes of the packages it removes first, as pnputil does.
#pragma once

#include <string>
#include <vector>

struct DeviceNode {
    std::wstring instanceId;   // "USBPRINT\KAVROMF6000A1B2\7&1A2B3C&0&USB001"
    std::wstring deviceClass;  // its class name ("Printer"), else its class GUID
    // Its friendly name (SPDRP_FRIENDLYNAME), else its description
    // (SPDRP_DEVICEDESC); empty when it has neither.
    std::wstring description;
    // The INF its driver was installed from, as the driver key's InfPath
    // holds it: a bare name in Windows' inf folder ("oem12.inf"); empty for a
    // node without a driver.
    std::wstring infPath;
    // The driver key's DriverDesc: the model Windows installed from that INF,
    // which for a printer is the printer driver's name; empty when it has none.
    std::wstring driverDescription;
};

// Every device node of the machine, of every class, present or not
// (SetupDiGetClassDevsW with DIGCF_ALLCLASSES), in the setup API's order.
// Only reads: each driver key is opened for KEY_QUERY_VALUE alone. Where the
// list cannot be had, logs "SetupDiGetClassDevs" and returns none.
std::vector<DeviceNode> EnumerateDeviceNodes();

// Removes the node by its instance id: SetupDiCallClassInstaller with
// DIF_REMOVE, so that its class installer does its part (the printer class
// installer takes the node's print queue with it). Only that node goes;
// DiUninstallDevice is not used, because it also removes the node's
// children, which may belong to other packages (a multifunction device's
// scanner). A node already gone is success. `restartNeeded` is set when
// Windows asks for a restart to finish (DI_NEEDREBOOT or DI_NEEDRESTART, or
// its install parameters cannot be read after the removal). On failure logs
// the failed call followed by the instance id ("SetupDiCallClassInstaller"
// + id, as "DeleteFile" + path), with the last error, and returns false: a
// 32-bit process on 64-bit Windows is refused with ERROR_IN_WOW64 and says
// so in the same way.
bool RemoveDevice(const DeviceNode& device, bool& restartNeeded);

// The nodes of `devices` that have a driver (an InfPath) whose DriverDesc is
// `model`, a-z and A-Z taken alike: the devices of that printer driver, for
// a listing. Windows writes both values when it installs a device's driver.
std::vector<DeviceNode> DevicesOfModel(const std::vector<DeviceNode>& devices,
                                       const std::wstring& model);
