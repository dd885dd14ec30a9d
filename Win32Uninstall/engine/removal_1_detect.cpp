#include "engine/removal_1_detect.h"

#include <algorithm>

std::vector<std::wstring> InstalledDriverNames(const DriverInventory& inventory) {
    std::vector<std::wstring> names;
    for (const auto& record : inventory.everyDriver) {
        const std::wstring name = TextOf(record->pName);
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

RemovalFacts DetectRemoval(DriverInventory inventory,
                           const std::vector<std::wstring>& driverNames) {
    RemovalFacts facts;
    facts.packages = ScanPackageCandidates(driverNames, InstalledDriverNames(inventory),
                                           CandidateTexts::Registrations);
    facts.inventory = std::move(inventory);
    facts.monitors = ReadRegistryMonitors();
    facts.printProcessors = ReadRegistryPrintProcessors();
    return facts;
}
