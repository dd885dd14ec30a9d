#include "engine/removal_2_plan.h"

#include <algorithm>
#include <set>

#include "engine/file_helpers.h"
#include "engine/inf_sections.h"
#include "engine/inf_text.h"
#include "platform/native_windows.h"
#include "platform/unique_handles.h"

namespace {

// What the whole set takes, as the keep rules of each plan see it.
struct SetScope {
    std::set<std::wstring> leavingDrivers;   // the drivers the set takes
    std::set<std::wstring> removedPrinters;  // the printers it deletes
    std::set<std::wstring> goingInfs;        // upper-cased INF paths of the packages it takes
};

bool Holds(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<const DRIVER_INFO_6W*> Pointers(const DriverRecords& records) {
    std::vector<const DRIVER_INFO_6W*> pointers;
    for (const auto& record : records)
        pointers.push_back(record.get());
    return pointers;
}

// Every record of a driver that stays after the set.
DriverRecords RecordsThatStay(const DriverRecords& everyDriver, const SetScope& scope) {
    DriverRecords staying;
    for (const auto& record : everyDriver) {
        if (!scope.leavingDrivers.count(TextOf(record->pName)))
            staying.push_back(record);
    }
    return staying;
}

size_t IndexOf(const std::vector<std::wstring>& names, const std::wstring& name) {
    return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

// The driver of `listed` with its records, files, packages and devices.
void PlanDriver(RemovalPlan& plan,
                const std::shared_ptr<const DRIVER_INFO_6W>& listed,
                const DriverRecords& everyDriver,
                const std::vector<DeviceNode>& devices,
                const PackageCandidates& candidates,
                const SetScope& scope) {
    plan.driver = TextOf(listed->pName);
    plan.driverRecords = RecordsNamed(everyDriver, plan.driver);
    // Windows' own environment first, as the list shows it.
    std::stable_partition(plan.driverRecords.begin(), plan.driverRecords.end(),
                          [](const auto& record) { return IsNativeRecord(*record); });
    if (plan.driverRecords.empty())
        plan.driverRecords.push_back(listed);
    const DriverRecords others = RecordsThatStay(everyDriver, scope);
    bool folderKnown = true;
    plan.driverFiles = FindDriverFiles(Pointers(plan.driverRecords), Pointers(others), folderKnown);
    plan.spoolerFiles = FindSpoolerDeletedFiles(Pointers(plan.driverRecords), Pointers(others),
                                                plan.driverFiles, folderKnown);
    plan.packages = DecidePackages(candidates, IndexOf(candidates.removedNames, plan.driver),
                                   scope.leavingDrivers);
    plan.devices = DevicesBoundTo(devices, plan.packages.oemInfs);
}

void PlanLeftovers(RemovalPlan& plan, const RemovalFacts& facts, const SetScope& scope) {
    const PackageCandidates& candidates = facts.packages;
    plan.packages = DecidePackages(candidates, IndexOf(candidates.removedNames, plan.driver),
                                   scope.leavingDrivers);
    plan.devices = DevicesBoundTo(facts.inventory.devices, plan.packages.oemInfs);
    // The store's copy of the INF tells the files, else the oem copy.
    std::vector<std::wstring> files;
    std::vector<PackageMatch> sources = plan.packages.packages;
    sources.insert(sources.end(), plan.packages.oemInfs.begin(), plan.packages.oemInfs.end());
    for (const PackageMatch& source : sources) {
        if (!source.keptBecause.empty())
            continue;
        for (const std::wstring& file :
             FilesInstalledFor(CandidateText(candidates, source.inf), plan.driver)) {
            if (!Holds(files, file))
                files.push_back(file);
        }
    }
    bool folderKnown = true;
    plan.driverFiles = FindFilesNamed(
        files, Pointers(RecordsThatStay(facts.inventory.everyDriver, scope)), folderKnown);
}

// --- Language monitors and print processors ---------------------------------

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// What the packages of a plan register: those that go for the driver's
// model, those that stay after the set for any model.
struct PackageRegistrations {
    InfRegistrations removed;
    bool removedRead = false;  // the plan removes a package, whose INF was read
    // Each staying package's INF and what it registers.
    std::vector<std::pair<std::wstring, InfRegistrations>> staying;
};

void AddOnce(std::vector<InfRegistration>& into, const std::vector<InfRegistration>& from) {
    for (const InfRegistration& registration : from) {
        if (std::none_of(into.begin(), into.end(), [&](const InfRegistration& known) {
                return SameName(known.name, registration.name);
            }))
            into.push_back(registration);
    }
}

PackageRegistrations ReadPackageRegistrations(const RemovalPlan& plan,
                                              const PackageCandidates& candidates,
                                              const SetScope& scope) {
    PackageRegistrations read;
    std::vector<PackageMatch> matches = plan.packages.packages;
    matches.insert(matches.end(), plan.packages.oemInfs.begin(), plan.packages.oemInfs.end());
    for (const PackageMatch& match : matches) {
        const std::wstring& text = CandidateText(candidates, match.inf);
        if (match.keptBecause.empty()) {
            const InfRegistrations own = RegisteredFor(text, plan.driver);
            AddOnce(read.removed.languageMonitors, own.languageMonitors);
            AddOnce(read.removed.printProcessors, own.printProcessors);
            read.removedRead = true;
        } else if (!scope.goingInfs.count(UpperInvariant(match.inf))) {
            read.staying.emplace_back(match.inf, RegisteredFor(text, L""));
        }
    }
    return read;
}

bool Registers(const std::vector<InfRegistration>& registrations, const std::wstring& name) {
    return std::any_of(
        registrations.begin(), registrations.end(),
        [&](const InfRegistration& registration) { return SameName(registration.name, name); });
}

const RegistryComponent* RegistryEntryOf(const std::vector<RegistryComponent>& registry,
                                         const std::wstring& name,
                                         const std::wstring& environment) {
    for (const RegistryComponent& component : registry) {
        if (SameName(component.name, name) && SameName(component.environment, environment))
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

// The monitor's reason to stay, or empty.
std::wstring MonitorKeptBecause(const std::wstring& name,
                                bool namedByRecordOnly,
                                const PackageRegistrations& packages,
                                const DriverRecords& everyDriver,
                                const SetScope& scope) {
    if (IsWindowsMonitor(name))
        return WINDOWS_OWN_MONITOR;
    for (const auto& record : everyDriver) {
        if (!scope.leavingDrivers.count(TextOf(record->pName)) &&
            SameName(TextOf(record->pMonitorName), name))
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
                                       const DriverInventory& inventory,
                                       const SetScope& scope) {
    if (IsWindowsPrintProcessor(name))
        return WINDOWS_OWN_PRINT_PROCESSOR;
    for (const DriverListEntry& row : inventory.rows) {
        if (row.isPrinter && !scope.removedPrinters.count(row.printerName) &&
            SameName(row.printProcessor, name))
            return L"used by printer " + row.printerName;
    }
    return KeptByStayingPackage(packages, name, false);
}

void PlanMonitors(RemovalPlan& plan,
                  const PackageRegistrations& packages,
                  const RemovalFacts& facts,
                  const SetScope& scope) {
    std::vector<std::wstring> names;
    for (const InfRegistration& registration : packages.removed.languageMonitors)
        names.push_back(registration.name);
    const size_t fromPackages = names.size();
    for (const auto& record : plan.driverRecords) {
        const std::wstring monitor = TextOf(record->pMonitorName);
        if (!monitor.empty() && std::none_of(names.begin(), names.end(), [&](const auto& name) {
                return SameName(name, monitor);
            }))
            names.push_back(monitor);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const RegistryComponent* registered = RegistryEntryOf(facts.monitors, names[i], L"");
        if (registered == nullptr)
            continue;
        RegisteredComponent planned{registered->name, {}, {}, {}, {}};
        planned.keptBecause = MonitorKeptBecause(names[i], i >= fromPackages, packages,
                                                 facts.inventory.everyDriver, scope);
        plan.monitors.push_back(planned);
    }
}

void PlanPrintProcessors(RemovalPlan& plan,
                         const PackageRegistrations& packages,
                         const RemovalFacts& facts,
                         const SetScope& scope) {
    std::vector<std::wstring> environments;
    for (const auto& record : plan.driverRecords)
        environments.push_back(TextOf(record->pEnvironment));
    if (environments.empty() && NativePrinterEnvironment() != nullptr)
        environments.push_back(NativePrinterEnvironment());
    for (const std::wstring& environment : environments) {
        for (const InfRegistration& registration : packages.removed.printProcessors) {
            const RegistryComponent* registered =
                RegistryEntryOf(facts.printProcessors, registration.name, environment);
            if (registered == nullptr)
                continue;
            RegisteredComponent planned{registered->name, registered->environment, {}, {}, {}};
            planned.keptBecause =
                PrintProcessorKeptBecause(registered->name, packages, facts.inventory, scope);
            plan.printProcessors.push_back(planned);
        }
    }
}

bool DllFileThere(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const unique_find find(win32.FindFirstFileW(path.c_str(), &found));
    return find.get() != INVALID_HANDLE_VALUE &&
           (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether a component of that name and environment goes with any plan.
bool GoesWithTheSet(const std::vector<const RegisteredComponent*>& going,
                    const RegistryComponent& component) {
    return std::any_of(going.begin(), going.end(), [&](const RegisteredComponent* planned) {
        return SameName(planned->name, component.name) &&
               SameName(planned->environment, component.environment);
    });
}

// The DLL of a registered component that goes, and why it stays if it does:
// a bare file name in the folder the spooler loads it from; a path elsewhere
// is left alone.
void PlanDll(RegisteredComponent& planned,
             const RegistryComponent& registered,
             const std::vector<RegistryComponent>& registry,
             const std::vector<const RegisteredComponent*>& alsoGoing) {
    const std::wstring& dll = registered.dll;
    if (dll.empty() || registered.dllFolder.empty() ||
        dll.find_first_of(L"\\/:") != std::wstring::npos ||
        !DllFileThere(registered.dllFolder + dll)) {
        return;
    }
    planned.dll = registered.dllFolder + dll;
    if (IsWindowsComponentDll(dll)) {
        planned.dllKeptBecause = WINDOWS_OWN_FILE;
        return;
    }
    for (const RegistryComponent& other : registry) {
        if (!GoesWithTheSet(alsoGoing, other) && !SameName(other.name, registered.name) &&
            SameName(other.environment, registered.environment) && SameName(other.dll, dll)) {
            planned.dllKeptBecause = L"used by " + other.name;
            return;
        }
    }
}

// The DLLs of every plan's components that go, against everything the set
// takes: a DLL that only components of the set load goes.
void PlanDlls(std::vector<RemovalPlan>& plans, const RemovalFacts& facts) {
    for (const bool monitors : {true, false}) {
        const std::vector<RegistryComponent>& registry =
            monitors ? facts.monitors : facts.printProcessors;
        std::vector<const RegisteredComponent*> going;
        for (const RemovalPlan& plan : plans) {
            for (const RegisteredComponent& planned :
                 monitors ? plan.monitors : plan.printProcessors) {
                if (planned.keptBecause.empty())
                    going.push_back(&planned);
            }
        }
        for (RemovalPlan& plan : plans) {
            for (RegisteredComponent& planned : monitors ? plan.monitors : plan.printProcessors) {
                if (planned.keptBecause.empty())
                    PlanDll(planned, *RegistryEntryOf(registry, planned.name, planned.environment),
                            registry, going);
            }
        }
    }
}

// --- The set ----------------------------------------------------------------

bool IsRefused(const RemovalPlan& plan) {
    return !plan.printersUsingDriver.empty();
}

// The plan of a driver row before its files and packages: refused while
// printers outside the set use the driver, unless they go with it.
RemovalPlan DriverTarget(const DriverListEntry& row,
                         const DriverInventory& inventory,
                         const SetScope& scope,
                         bool withPrinters) {
    RemovalPlan plan;
    plan.driver = row.driverName;
    const std::vector<std::wstring> users = PrintersUsing(inventory, row.driverName);
    std::vector<std::wstring> staying;
    for (const std::wstring& user : users) {
        if (!scope.removedPrinters.count(user))
            staying.push_back(user);
    }
    if (!staying.empty() && !withPrinters)
        plan.printersUsingDriver = staying;
    else
        plan.printers = users;
    return plan;
}

// Whether a row that stays after the set names `driver`.
bool NamedByARowThatStays(const std::wstring& driver,
                          const DriverInventory& inventory,
                          const SetScope& scope) {
    return std::any_of(inventory.rows.begin(), inventory.rows.end(), [&](const auto& row) {
        if (row.driverName != driver)
            return false;
        return row.isPrinter ? !scope.removedPrinters.count(row.printerName)
                             : !scope.leavingDrivers.count(driver);
    });
}

// Each member's target: which printers go and which driver, before any file
// or package is looked at; `scope` learns what the set takes.
std::vector<RemovalPlan> PlanTargets(const std::vector<SetMember>& members,
                                     const DriverInventory& inventory,
                                     SetScope& scope,
                                     bool withPrinters) {
    for (const SetMember& member : members) {
        if (!member.leftovers && member.row.isPrinter)
            scope.removedPrinters.insert(member.row.printerName);
    }
    std::vector<RemovalPlan> plans(members.size());
    // Driver rows first: their printers go with them, which a printer row's
    // driver then no longer counts.
    for (size_t i = 0; i < members.size(); ++i) {
        const SetMember& member = members[i];
        if (member.leftovers) {
            plans[i].leftovers = true;
            plans[i].driver = member.row.driverName;
        } else if (!member.row.isPrinter) {
            plans[i] = DriverTarget(member.row, inventory, scope, withPrinters);
            if (!IsRefused(plans[i])) {
                scope.leavingDrivers.insert(plans[i].driver);
                scope.removedPrinters.insert(plans[i].printers.begin(), plans[i].printers.end());
            }
        }
    }
    for (size_t i = 0; i < members.size(); ++i) {
        const DriverListEntry& row = members[i].row;
        if (members[i].leftovers || !row.isPrinter)
            continue;
        plans[i].printers.push_back(row.printerName);
        if (row.driverInfo && !NamedByARowThatStays(row.driverName, inventory, scope))
            plans[i].driver = row.driverName;
    }
    for (const RemovalPlan& plan : plans) {
        if (!IsRefused(plan) && !plan.driver.empty())
            scope.leavingDrivers.insert(plan.driver);
    }
    return plans;
}

// The member's own driver information: its row's, else a record of its name.
std::shared_ptr<const DRIVER_INFO_6W> ListedDriver(const SetMember& member,
                                                   const DriverRecords& everyDriver) {
    if (member.row.driverInfo)
        return member.row.driverInfo;
    const DriverRecords records = RecordsNamed(everyDriver, member.row.driverName);
    return records.empty() ? nullptr : records.front();
}

void AddGoingInfs(SetScope& scope, const RemovalPlan& plan) {
    for (const auto* matches : {&plan.packages.oemInfs, &plan.packages.packages}) {
        for (const PackageMatch& match : *matches) {
            if (match.keptBecause.empty())
                scope.goingInfs.insert(UpperInvariant(match.inf));
        }
    }
}

void PlanComponents(std::vector<RemovalPlan>& plans,
                    const RemovalFacts& facts,
                    const SetScope& scope) {
    for (RemovalPlan& plan : plans) {
        if (plan.driver.empty() || IsRefused(plan))
            continue;
        const PackageRegistrations packages = ReadPackageRegistrations(plan, facts.packages, scope);
        PlanMonitors(plan, packages, facts, scope);
        PlanPrintProcessors(plan, packages, facts, scope);
    }
    PlanDlls(plans, facts);
}

}  // namespace

SetMember LeftoversOf(const std::wstring& driverName) {
    return {DriverListEntry{nullptr, nullptr, {}, false, driverName, {}}, true};
}

std::vector<std::wstring> DriverNamesOf(const std::vector<SetMember>& members,
                                        const DriverInventory& inventory,
                                        bool withPrinters) {
    SetScope scope;
    std::vector<std::wstring> names;
    for (const RemovalPlan& plan : PlanTargets(members, inventory, scope, withPrinters)) {
        if (!plan.driver.empty() && !IsRefused(plan) && !Holds(names, plan.driver))
            names.push_back(plan.driver);
    }
    return names;
}

std::vector<RemovalPlan> PlanRemovalSet(const std::vector<SetMember>& members,
                                        const RemovalFacts& facts,
                                        bool withPrinters) {
    const DriverInventory& inventory = facts.inventory;
    SetScope scope;
    std::vector<RemovalPlan> plans = PlanTargets(members, inventory, scope, withPrinters);
    for (size_t i = 0; i < plans.size(); ++i) {
        RemovalPlan& plan = plans[i];
        if (plan.driver.empty() || IsRefused(plan))
            continue;
        if (plan.leftovers) {
            PlanLeftovers(plan, facts, scope);
        } else if (const auto listed = ListedDriver(members[i], inventory.everyDriver)) {
            PlanDriver(plan, listed, inventory.everyDriver, inventory.devices, facts.packages,
                       scope);
        }
        AddGoingInfs(scope, plan);
    }
    PlanComponents(plans, facts, scope);
    return plans;
}
