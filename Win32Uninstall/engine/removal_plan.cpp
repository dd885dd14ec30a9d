#include "engine/removal_plan.h"

#include <algorithm>

#include "engine/file_helpers.h"
#include "engine/inf_sections.h"
#include "engine/inf_text.h"
#include "engine/queue_purge.h"

namespace {

std::vector<const DRIVER_INFO_6W*> Pointers(const DriverRecords& records) {
    std::vector<const DRIVER_INFO_6W*> pointers;
    for (const auto& record : records)
        pointers.push_back(record.get());
    return pointers;
}

// Every record of `everyDriver` of another name than `driver`, and those names.
DriverRecords OtherDrivers(const DriverRecords& everyDriver,
                           const std::wstring& driver,
                           std::vector<std::wstring>& names) {
    DriverRecords others;
    for (const auto& record : everyDriver) {
        const std::wstring name = TextOf(record->pName);
        if (name == driver)
            continue;
        others.push_back(record);
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return others;
}

void PlanDriver(RemovalPlan& plan,
                const std::shared_ptr<const DRIVER_INFO_6W>& listed,
                const DriverRecords& everyDriver) {
    plan.driver = TextOf(listed->pName);
    plan.driverRecords = RecordsNamed(everyDriver, plan.driver);
    // Windows' own environment first, as the list shows it.
    std::stable_partition(plan.driverRecords.begin(), plan.driverRecords.end(),
                          [](const auto& record) { return IsNativeRecord(*record); });
    if (plan.driverRecords.empty())
        plan.driverRecords.push_back(listed);
    std::vector<std::wstring> remaining;
    const DriverRecords others = OtherDrivers(everyDriver, plan.driver, remaining);
    bool folderKnown = true;
    plan.driverFiles = FindDriverFiles(Pointers(plan.driverRecords), Pointers(others), folderKnown);
    plan.spoolerFiles = FindSpoolerDeletedFiles(Pointers(plan.driverRecords), Pointers(others),
                                                plan.driverFiles, folderKnown);
    plan.packages = ScanDriverPackages(plan.driver, remaining);
}

}  // namespace

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
    RemovalPlan plan;
    if (row.isPrinter)
        plan.printers.push_back(row.printerName);
    if (row.driverInfo) {
        PlanDriver(plan, row.driverInfo, everyDriver);
        plan.devices = DevicesBoundTo(devices, plan.packages.oemInfs);
    }
    return plan;
}

RemovalPlan PlanRemoval(const DriverListEntry& row,
                        const DriverInventory& inventory,
                        bool withPrinters) {
    if (row.isPrinter) {
        return PlanRowRemoval(RowForRemoval(row, inventory.useCounts), inventory.everyDriver,
                              inventory.devices);
    }
    const std::vector<std::wstring> users = PrintersUsing(inventory, row.driverName);
    if (!users.empty() && !withPrinters) {
        RemovalPlan refused;
        refused.driver = row.driverName;
        refused.printersUsingDriver = users;
        return refused;
    }
    RemovalPlan plan = PlanRowRemoval(row, inventory.everyDriver, inventory.devices);
    plan.printers = users;
    return plan;
}

RemovalPlan PlanLeftoverRemoval(const std::wstring& driverName, const DriverInventory& inventory) {
    RemovalPlan plan;
    plan.leftovers = true;
    plan.driver = driverName;
    std::vector<std::wstring> remaining;
    const DriverRecords others = OtherDrivers(inventory.everyDriver, driverName, remaining);
    plan.packages = ScanDriverPackages(driverName, remaining);
    plan.devices = DevicesBoundTo(inventory.devices, plan.packages.oemInfs);
    // The store's copy of the INF tells the files, else the oem copy.
    std::vector<std::wstring> files;
    std::vector<PackageMatch> sources = plan.packages.packages;
    sources.insert(sources.end(), plan.packages.oemInfs.begin(), plan.packages.oemInfs.end());
    for (const PackageMatch& source : sources) {
        if (!source.keptBecause.empty())
            continue;
        for (const std::wstring& file : FilesInstalledFor(ReadInfText(source.inf), driverName)) {
            if (std::find(files.begin(), files.end(), file) == files.end())
                files.push_back(file);
        }
    }
    bool folderKnown = true;
    plan.driverFiles = FindFilesNamed(files, Pointers(others), folderKnown);
    return plan;
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
