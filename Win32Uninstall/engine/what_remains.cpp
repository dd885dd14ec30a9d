#include "engine/what_remains.h"

#include <set>

#include "engine/driver_inventory.h"
#include "engine/removal_2_plan.h"
#include "engine/spooler_registry.h"
#include "platform/unique_handles.h"

namespace {

// A file or folder (with or without its trailing backslash) that exists.
bool ItemThere(const std::wstring& path) {
    std::wstring item = path;
    if (item.size() > 3 && item.back() == L'\\')
        item.pop_back();
    WIN32_FIND_DATAW data{};
    const unique_find found(win32.FindFirstFileW(item.c_str(), &data));
    return found.is_valid();
}

std::wstring Joined(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (const std::wstring& name : names)
        text += (text.empty() ? L"" : L", ") + name;
    return text;
}

// Collects the remaining files, oem INFs and packages, each path once.
class RemainingPaths {
  public:
    RemainingPaths(std::vector<RemainingItem>& items, const ScheduledPaths& scheduled)
        : items_(items) {
        for (const std::wstring& path : scheduled)
            scheduled_.insert(UpperInvariant(path));
    }

    // `path` when it exists: kept for `keptBecause`, else at the restart or
    // failed.
    void Add(RemainingKind kind, const std::wstring& path, const std::wstring& keptBecause) {
        if (path.empty() || !seen_.insert(UpperInvariant(path)).second || !ItemThere(path))
            return;
        RemainingItem item{kind, path, RemainingState::Failed, keptBecause};
        if (!keptBecause.empty())
            item.state = RemainingState::Kept;
        else if (scheduled_.count(UpperInvariant(path)))
            item.state = RemainingState::AtRestart;
        items_.push_back(std::move(item));
    }

    void AddPlan(const RemovalPlan& plan) {
        for (const auto* files : {&plan.driverFiles, &plan.spoolerFiles}) {
            for (const DriverFileMatch& file : *files)
                Add(RemainingKind::File, file.path, file.keptBecause);
        }
        for (const PackageMatch& inf : plan.packages.oemInfs)
            Add(RemainingKind::OemInf, inf.inf, inf.keptBecause);
        for (const PackageMatch& package : plan.packages.packages)
            Add(RemainingKind::Package, package.folder, package.keptBecause);
    }

  private:
    std::vector<RemainingItem>& items_;
    std::set<std::wstring> scheduled_;
    std::set<std::wstring> seen_;
};

void AddRecords(std::vector<RemainingItem>& items,
                const DriverInventory& inventory,
                const std::wstring& driverName,
                const RemovalPlan& plan) {
    const DriverRecords records = RecordsNamed(inventory.everyDriver, driverName);
    if (records.empty())
        return;
    RemainingItem driver{RemainingKind::Driver, driverName, RemainingState::Failed, {}};
    if (plan.driver.empty()) {
        const std::vector<std::wstring> printers = PrintersUsing(inventory, driverName);
        driver.state = RemainingState::Kept;
        driver.reason = printers.empty() ? L"a printer's removal keeps its driver"
                                         : L"used by printers " + Joined(printers);
    }
    items.push_back(std::move(driver));
}

void AddPrinters(std::vector<RemainingItem>& items,
                 const DriverInventory& inventory,
                 const RemovalPlan& plan) {
    for (const std::wstring& printer : plan.printers) {
        for (const DriverListEntry& row : inventory.rows) {
            if (row.isPrinter && row.printerName == printer) {
                items.push_back({RemainingKind::Printer, printer, RemainingState::Failed, {}});
                break;
            }
        }
    }
}

bool Registered(const std::vector<RegistryComponent>& registered,
                const RegisteredComponent& component) {
    for (const RegistryComponent& entry : registered) {
        if (UpperInvariant(entry.name) == UpperInvariant(component.name) &&
            UpperInvariant(entry.environment) == UpperInvariant(component.environment)) {
            return true;
        }
    }
    return false;
}

// The plan's monitors or print processors that `registered` still holds,
// and their DLLs that still exist.
void AddComponents(std::vector<RemainingItem>& items,
                   RemainingPaths& paths,
                   RemainingKind kind,
                   const std::vector<RegisteredComponent>& components,
                   const std::vector<RegistryComponent>& registered) {
    for (const RegisteredComponent& component : components) {
        if (Registered(registered, component)) {
            const std::wstring name = component.environment.empty()
                                          ? component.name
                                          : component.name + L" (" + component.environment + L")";
            items.push_back(
                {kind, name,
                 component.keptBecause.empty() ? RemainingState::Failed : RemainingState::Kept,
                 component.keptBecause});
        }
        paths.Add(RemainingKind::File, component.dll,
                  component.keptBecause.empty() ? component.dllKeptBecause : component.keptBecause);
    }
}

void AddDevices(std::vector<RemainingItem>& items,
                const DriverInventory& inventory,
                const RemovalPlan& plan) {
    for (const DeviceNode& device : plan.devices) {
        for (const DeviceNode& node : inventory.devices) {
            if (UpperInvariant(node.instanceId) == UpperInvariant(device.instanceId)) {
                items.push_back(
                    {RemainingKind::Device, device.instanceId, RemainingState::Failed, {}});
                break;
            }
        }
    }
}

}  // namespace

std::vector<std::vector<RemainingItem>> FindWhatRemainsOfSet(
    const std::vector<RemainsQuery>& queries,
    const ScheduledPaths& scheduled) {
    const DriverInventory inventory = TakeDriverInventory(nullptr);
    // What a new plan of each driver finds: of a remaining record as it is
    // given (no row's use counts), else of its leftovers; one plan for all.
    DriverInventory rowless = inventory;
    rowless.rows.clear();
    rowless.useCounts.clear();
    std::vector<SetMember> members;
    std::vector<size_t> planOf(queries.size(), queries.size());
    for (size_t i = 0; i < queries.size(); ++i) {
        const RemainsQuery& query = queries[i];
        if (query.driverName.empty() || query.plan->driver.empty())
            continue;
        const DriverRecords records = RecordsNamed(inventory.everyDriver, query.driverName);
        planOf[i] = members.size();
        members.push_back(
            records.empty()
                ? LeftoversOf(query.driverName)
                : SetMember{
                      DriverListEntry{nullptr, records.front(), {}, false, query.driverName, {}},
                      false});
    }
    const std::vector<std::wstring> names = DriverNamesOf(members, rowless, false);
    const RemovalFacts facts = DetectRemoval(std::move(rowless), names);
    const std::vector<RemovalPlan> now = PlanRemovalSet(members, facts, false);

    std::vector<std::vector<RemainingItem>> remains(queries.size());
    for (size_t i = 0; i < queries.size(); ++i) {
        std::vector<RemainingItem>& items = remains[i];
        const RemovalPlan& plan = *queries[i].plan;
        AddRecords(items, inventory, queries[i].driverName, plan);
        AddPrinters(items, inventory, plan);
        AddDevices(items, inventory, plan);
        if (planOf[i] == queries.size())
            continue;
        RemainingPaths paths(items, scheduled);
        paths.AddPlan(now[planOf[i]]);
        paths.AddPlan(plan);
        AddComponents(items, paths, RemainingKind::Monitor, plan.monitors, facts.monitors);
        AddComponents(items, paths, RemainingKind::PrintProcessor, plan.printProcessors,
                      facts.printProcessors);
    }
    return remains;
}

std::vector<RemainingItem> FindWhatRemains(const std::wstring& driverName,
                                           const RemovalPlan& plan,
                                           const ScheduledPaths& scheduled) {
    return FindWhatRemainsOfSet({{driverName, &plan}}, scheduled).front();
}
