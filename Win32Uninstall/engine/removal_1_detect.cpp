#include "engine/removal_1_detect.h"

#include <algorithm>

#include "engine/removal_plan.h"

std::vector<std::wstring> InstalledDriverNames(const DriverInventory& inventory) {
    std::vector<std::wstring> names;
    for (const auto& record : inventory.everyDriver) {
        const std::wstring name = TextOf(record->pName);
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

CandidateTexts TextsThePlanNeeds(bool leftovers,
                                 const std::vector<RegistryComponent>& monitors,
                                 const std::vector<RegistryComponent>& printProcessors) {
    const bool vendors = std::any_of(monitors.begin(), monitors.end(),
                                     [](const RegistryComponent& monitor) {
                                         return !IsWindowsMonitor(monitor.name);
                                     }) ||
                         std::any_of(printProcessors.begin(), printProcessors.end(),
                                     [](const RegistryComponent& processor) {
                                         return !IsWindowsPrintProcessor(processor.name);
                                     });
    return leftovers || vendors ? CandidateTexts::Registrations : CandidateTexts::Verdicts;
}

RemovalFacts DetectRemoval(DriverInventory inventory,
                           const std::vector<std::wstring>& driverNames) {
    RemovalFacts facts;
    facts.monitors = ReadRegistryMonitors();
    facts.printProcessors = ReadRegistryPrintProcessors();
    const bool leftovers =
        std::any_of(driverNames.begin(), driverNames.end(), [&](const std::wstring& name) {
            return !name.empty() && RecordsNamed(inventory.everyDriver, name).empty();
        });
    facts.packages =
        ScanPackageCandidates(driverNames, InstalledDriverNames(inventory),
                              TextsThePlanNeeds(leftovers, facts.monitors, facts.printProcessors));
    facts.inventory = std::move(inventory);
    return facts;
}
