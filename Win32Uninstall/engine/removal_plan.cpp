#include "engine/removal_plan.h"

#include <algorithm>

#include "engine/file_helpers.h"
#include "engine/inf_text.h"
#include "engine/queue_purge.h"
#include "engine/removal_2_plan.h"

std::vector<DeviceNode> DevicesBoundTo(const std::vector<DeviceNode>& devices,
                                       const std::vector<PackageMatch>& oemInfs) {
    std::vector<DeviceNode> bound;
    for (const DeviceNode& device : devices) {
        const std::wstring infPath = UpperAsciiOf(device.infPath);
        const bool goes =
            !infPath.empty() && std::any_of(oemInfs.begin(), oemInfs.end(), [&](const auto& inf) {
                return inf.keptBecause.empty() && UpperAsciiOf(FileNameOf(inf.inf)) == infPath;
            });
        if (goes)
            bound.push_back(device);
    }
    return bound;
}

RemovalPlan PlanRowRemoval(const DriverListEntry& row,
                           const DriverRecords& everyDriver,
                           const std::vector<DeviceNode>& devices) {
    // The row alone, on a PC of these records and nodes without rows.
    DriverInventory inventory;
    inventory.everyDriver = everyDriver;
    inventory.devices = devices;
    const std::vector<SetMember> members = {{row, false}};
    RemovalPlan plan = PlanRemovalSet(
        members, DetectRemoval(std::move(inventory), DriverNamesOf(members, {}, false)), false)[0];
    plan.monitors.clear();
    plan.printProcessors.clear();
    return plan;
}

RemovalPlan PlanRemoval(const DriverListEntry& row,
                        const DriverInventory& inventory,
                        bool withPrinters) {
    const std::vector<SetMember> members = {{row, false}};
    return PlanRemovalSet(members,
                          DetectRemoval(inventory, DriverNamesOf(members, inventory, withPrinters)),
                          withPrinters)[0];
}

RemovalPlan PlanLeftoverRemoval(const std::wstring& driverName, const DriverInventory& inventory) {
    const std::vector<SetMember> members = {LeftoversOf(driverName)};
    return PlanRemovalSet(
        members, DetectRemoval(inventory, DriverNamesOf(members, inventory, false)), false)[0];
}

bool FoundAnything(const RemovalPlan& plan) {
    return !plan.driverFiles.empty() || !plan.packages.oemInfs.empty() ||
           !plan.packages.packages.empty();
}

bool RemovesAPackage(const RemovalPlan& plan) {
    const auto goes = [](const PackageMatch& match) { return match.keptBecause.empty(); };
    return std::any_of(plan.packages.oemInfs.begin(), plan.packages.oemInfs.end(), goes) ||
           std::any_of(plan.packages.packages.begin(), plan.packages.packages.end(), goes);
}

std::vector<std::wstring> ListSpoolFiles() {
    std::wstring folder;
    if (!SpoolFilesFolder(folder))
        return {};
    // The purge deletes the shadow files first, then the spool files.
    FileList files;
    WalkFolder(files, folder, WALK_COLLECT, L".SHD", TRUE);
    FileList spool;
    WalkFolder(spool, folder, WALK_COLLECT, L".SPL", TRUE);
    files.insert(files.end(), spool.begin(), spool.end());
    return files;
}

std::wstring DriverInUseText(const RemovalPlan& plan) {
    std::wstring printers;
    for (const std::wstring& printer : plan.printersUsingDriver)
        printers += (printers.empty() ? L"" : L"、") + printer;
    return L"驱动" + plan.driver + L"正被打印机使用，未卸载：" + printers;
}

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool OneOf(const std::wstring& text, std::initializer_list<const wchar_t*> names) {
    return std::any_of(names.begin(), names.end(),
                       [&](const wchar_t* name) { return SameText(text, name); });
}

}  // namespace

bool IsWindowsMonitor(const std::wstring& name) {
    return OneOf(name, {L"Local Port", L"Standard TCP/IP Port", L"USB Monitor", L"WSD Port",
                        L"Appmon", L"Microsoft Shared Fax Monitor", L"LPR Port",
                        L"PJL Language Monitor", L"BJ Language Monitor"});
}

bool IsWindowsPrintProcessor(const std::wstring& name) {
    return OneOf(name, {L"winprint"});
}

bool IsWindowsComponentDll(const std::wstring& dll) {
    return OneOf(dll, {L"localspl.dll", L"tcpmon.dll", L"usbmon.dll", L"WSDMon.dll", L"AppMon.dll",
                       L"FXSMON.DLL", L"lprmon.dll", L"pjlmon.dll", L"cnbjmon.dll", L"winprint.dll",
                       L"localui.dll", L"tcpmonui.dll"});
}
