#include "engine/removal_plan.h"

#include <algorithm>

#include "engine/file_helpers.h"
#include "engine/inf_sections.h"
#include "engine/inf_text.h"
#include "engine/queue_purge.h"
#include "engine/spooler_registry.h"
#include "platform/native_windows.h"
#include "platform/unique_handles.h"

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
        RemovalPlan plan = PlanRowRemoval(RowForRemoval(row, inventory.useCounts),
                                          inventory.everyDriver, inventory.devices);
        PlanRegisteredComponents(plan, inventory);
        return plan;
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
    PlanRegisteredComponents(plan, inventory);
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
    PlanRegisteredComponents(plan, inventory);
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

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool OneOf(const std::wstring& text, std::initializer_list<const wchar_t*> names) {
    return std::any_of(names.begin(), names.end(),
                       [&](const wchar_t* name) { return SameText(text, name); });
}

// What the packages of a plan register: those that go for the driver's
// model, those that stay for any model.
struct PackageRegistrations {
    InfRegistrations removed;
    bool removedRead = false;  // the plan removes a package, whose INF was read
    // Each staying package's INF and what it registers.
    std::vector<std::pair<std::wstring, InfRegistrations>> staying;
};

void AddOnce(std::vector<InfRegistration>& into, const std::vector<InfRegistration>& from) {
    for (const InfRegistration& registration : from) {
        if (std::none_of(into.begin(), into.end(), [&](const InfRegistration& known) {
                return SameText(known.name, registration.name);
            }))
            into.push_back(registration);
    }
}

PackageRegistrations ReadPackageRegistrations(const RemovalPlan& plan) {
    PackageRegistrations read;
    std::vector<PackageMatch> matches = plan.packages.packages;
    matches.insert(matches.end(), plan.packages.oemInfs.begin(), plan.packages.oemInfs.end());
    for (const PackageMatch& match : matches) {
        const std::wstring text = ReadInfText(match.inf);
        if (match.keptBecause.empty()) {
            const InfRegistrations own = RegisteredFor(text, plan.driver);
            AddOnce(read.removed.languageMonitors, own.languageMonitors);
            AddOnce(read.removed.printProcessors, own.printProcessors);
            read.removedRead = true;
        } else {
            read.staying.emplace_back(match.inf, RegisteredFor(text, L""));
        }
    }
    return read;
}

bool Registers(const std::vector<InfRegistration>& registrations, const std::wstring& name) {
    return std::any_of(
        registrations.begin(), registrations.end(),
        [&](const InfRegistration& registration) { return SameText(registration.name, name); });
}

const RegistryComponent* Registered(const std::vector<RegistryComponent>& registry,
                                    const std::wstring& name,
                                    const std::wstring& environment) {
    for (const RegistryComponent& component : registry) {
        if (SameText(component.name, name) && SameText(component.environment, environment))
            return &component;
    }
    return nullptr;
}

// The reason a staying package gives for keeping `name`, or empty.
std::wstring KeptByStayingPackage(const PackageRegistrations& packages,
                                  const std::wstring& name,
                                  bool monitor) {
    for (const auto& [inf, registered] : packages.staying) {
        if (Registers(monitor ? registered.languageMonitors : registered.printProcessors, name))
            return L"registered by " + inf + L" that stays";
    }
    return {};
}

bool FileThere(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const unique_find find(win32.FindFirstFileW(path.c_str(), &found));
    return find.get() != INVALID_HANDLE_VALUE &&
           (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The DLL of a registered component that goes, and why it stays if it does:
// a bare file name in the folder the spooler loads it from; a path elsewhere
// is left alone.
void PlanDll(RegisteredComponent& planned,
             const RegistryComponent& registered,
             const std::vector<RegistryComponent>& registry,
             const std::vector<RegisteredComponent>& alsoGoing) {
    const std::wstring& dll = registered.dll;
    if (dll.empty() || registered.dllFolder.empty() ||
        dll.find_first_of(L"\\/:") != std::wstring::npos ||
        !FileThere(registered.dllFolder + dll)) {
        return;
    }
    planned.dll = registered.dllFolder + dll;
    if (IsWindowsComponentDll(dll)) {
        planned.dllKeptBecause = WINDOWS_OWN_FILE;
        return;
    }
    for (const RegistryComponent& other : registry) {
        const bool goes = std::any_of(alsoGoing.begin(), alsoGoing.end(), [&](const auto& going) {
            return SameText(going.name, other.name) &&
                   SameText(going.environment, other.environment);
        });
        if (!goes && !SameText(other.name, registered.name) &&
            SameText(other.environment, registered.environment) && SameText(other.dll, dll)) {
            planned.dllKeptBecause = L"used by " + other.name;
            return;
        }
    }
}

// The monitor's reason to stay, or empty.
std::wstring MonitorKeptBecause(const std::wstring& name,
                                bool namedByRecordOnly,
                                const PackageRegistrations& packages,
                                const DriverRecords& everyDriver,
                                const std::wstring& driver) {
    if (IsWindowsMonitor(name))
        return WINDOWS_OWN_MONITOR;
    for (const auto& record : everyDriver) {
        if (TextOf(record->pName) != driver && SameText(TextOf(record->pMonitorName), name))
            return L"used by driver " + TextOf(record->pName);
    }
    std::wstring staying = KeptByStayingPackage(packages, name, true);
    if (!staying.empty())
        return staying;
    if (namedByRecordOnly && packages.removedRead)
        return L"not registered by the driver's own package";
    return {};
}

std::wstring PrintProcessorKeptBecause(const std::wstring& name,
                                       const PackageRegistrations& packages,
                                       const RemovalPlan& plan,
                                       const DriverInventory& inventory) {
    if (IsWindowsPrintProcessor(name))
        return WINDOWS_OWN_PRINT_PROCESSOR;
    for (const DriverListEntry& row : inventory.rows) {
        const bool goes = std::find(plan.printers.begin(), plan.printers.end(), row.printerName) !=
                          plan.printers.end();
        if (row.isPrinter && !goes && SameText(row.printProcessor, name))
            return L"used by printer " + row.printerName;
    }
    return KeptByStayingPackage(packages, name, false);
}

void PlanMonitors(RemovalPlan& plan,
                  const PackageRegistrations& packages,
                  const DriverInventory& inventory) {
    std::vector<std::wstring> names;
    for (const InfRegistration& registration : packages.removed.languageMonitors)
        names.push_back(registration.name);
    const size_t fromPackages = names.size();
    for (const auto& record : plan.driverRecords) {
        const std::wstring monitor = TextOf(record->pMonitorName);
        if (!monitor.empty() && std::none_of(names.begin(), names.end(), [&](const auto& name) {
                return SameText(name, monitor);
            }))
            names.push_back(monitor);
    }
    const std::vector<RegistryComponent> registry = ReadRegistryMonitors();
    for (size_t i = 0; i < names.size(); ++i) {
        const RegistryComponent* registered = Registered(registry, names[i], L"");
        if (registered == nullptr)
            continue;
        RegisteredComponent planned{registered->name, {}, {}, {}, {}};
        planned.keptBecause = MonitorKeptBecause(names[i], i >= fromPackages, packages,
                                                 inventory.everyDriver, plan.driver);
        plan.monitors.push_back(planned);
    }
    for (RegisteredComponent& planned : plan.monitors) {
        if (planned.keptBecause.empty())
            PlanDll(planned, *Registered(registry, planned.name, L""), registry, plan.monitors);
    }
}

void PlanPrintProcessors(RemovalPlan& plan,
                         const PackageRegistrations& packages,
                         const DriverInventory& inventory) {
    std::vector<std::wstring> environments;
    for (const auto& record : plan.driverRecords)
        environments.push_back(TextOf(record->pEnvironment));
    if (environments.empty() && NativePrinterEnvironment() != nullptr)
        environments.push_back(NativePrinterEnvironment());
    const std::vector<RegistryComponent> registry = ReadRegistryPrintProcessors();
    for (const std::wstring& environment : environments) {
        for (const InfRegistration& registration : packages.removed.printProcessors) {
            const RegistryComponent* registered =
                Registered(registry, registration.name, environment);
            if (registered == nullptr)
                continue;
            RegisteredComponent planned{registered->name, registered->environment, {}, {}, {}};
            planned.keptBecause =
                PrintProcessorKeptBecause(registered->name, packages, plan, inventory);
            plan.printProcessors.push_back(planned);
        }
    }
    for (RegisteredComponent& planned : plan.printProcessors) {
        if (planned.keptBecause.empty()) {
            PlanDll(planned, *Registered(registry, planned.name, planned.environment), registry,
                    plan.printProcessors);
        }
    }
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

void PlanRegisteredComponents(RemovalPlan& plan, const DriverInventory& inventory) {
    if (plan.driver.empty())
        return;
    const PackageRegistrations packages = ReadPackageRegistrations(plan);
    PlanMonitors(plan, packages, inventory);
    PlanPrintProcessors(plan, packages, inventory);
}
