#include "engine/removal_3_apply.h"

#include <algorithm>
#include <set>

#include "engine/file_helpers.h"

namespace {

// What earlier plans of the run take, by upper-cased key.
class TakenOnce {
  public:
    // True the first time `key` is offered for `kind`.
    bool First(const wchar_t* kind, const std::wstring& key) {
        return taken_.insert(std::wstring(kind) + L"|" + UpperInvariant(key)).second;
    }

    // Keeps of `items` what stays, and what goes only the first time.
    template <typename Item, typename Key>
    void Filter(std::vector<Item>& items, const wchar_t* kind, Key key) {
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [&](const Item& item) {
                                       return item.keptBecause.empty() && !First(kind, key(item));
                                   }),
                    items.end());
    }

  private:
    std::set<std::wstring> taken_;
};

void DropDriver(RemovalPlan& plan) {
    RemovalPlan printersOnly;
    printersOnly.printers = plan.printers;
    plan = std::move(printersOnly);
}

void FilterDriverItems(RemovalPlan& plan, TakenOnce& taken) {
    const auto path = [](const DriverFileMatch& file) { return file.path; };
    taken.Filter(plan.driverFiles, L"file", path);
    taken.Filter(plan.spoolerFiles, L"file", path);
    taken.Filter(plan.packages.oemInfs, L"oemInf", [](const PackageMatch& inf) { return inf.inf; });
    taken.Filter(plan.packages.packages, L"package",
                 [](const PackageMatch& package) { return package.folder; });
    plan.devices.erase(std::remove_if(plan.devices.begin(), plan.devices.end(),
                                      [&](const DeviceNode& device) {
                                          return !taken.First(L"device", device.instanceId);
                                      }),
                       plan.devices.end());
    const auto component = [](const RegisteredComponent& planned) {
        return planned.name + L"|" + planned.environment;
    };
    taken.Filter(plan.monitors, L"monitor", component);
    taken.Filter(plan.printProcessors, L"printProcessor", component);
}

}  // namespace

std::vector<RemovalPlan> DistinctForRun(const std::vector<RemovalPlan>& plans) {
    std::vector<RemovalPlan> run;
    TakenOnce taken;
    for (const RemovalPlan& plan : plans) {
        if (!plan.printersUsingDriver.empty())
            continue;
        RemovalPlan distinct = plan;
        distinct.printers.erase(std::remove_if(distinct.printers.begin(), distinct.printers.end(),
                                               [&](const std::wstring& printer) {
                                                   return !taken.First(L"printer", printer);
                                               }),
                                distinct.printers.end());
        if (!distinct.driver.empty() && !taken.First(L"driver", distinct.driver))
            DropDriver(distinct);
        else
            FilterDriverItems(distinct, taken);
        run.push_back(std::move(distinct));
    }
    return run;
}

bool RunRemovalSet(const std::vector<RemovalPlan>& plans,
                   std::vector<StepOutcome>* outcomes,
                   SpoolerBypass* bypass) {
    const std::vector<RemovalPlan> run = DistinctForRun(plans);
    if (run.empty())
        return true;
    const bool throughSpooler = std::any_of(
        run.begin(), run.end(), [](const RemovalPlan& plan) { return !plan.leftovers; });
    return throughSpooler ? RunRemovalPlans(run, outcomes, bypass)
                          : RunLeftoverRemovals(run, outcomes);
}
