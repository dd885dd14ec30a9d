// The first phase of a removal (detect, plan, apply, report): everything the
// plan decides from, taken once for the whole set of names before anything
// is decided or changed. The plan (removal_2_plan.h) reads only these facts
// and the driver folders' walks; the removal (removal_3_apply.h) acts on
// what it decided.
#pragma once

#include <string>
#include <vector>

#include "engine/driver_inventory.h"
#include "engine/driver_packages.h"
#include "engine/spooler_registry.h"

struct RemovalFacts {
    // The spooler's rows, counts, every driver record and the device nodes.
    DriverInventory inventory;
    // Every package candidate, read once for all the set's driver names,
    // with the names of every installed driver (see ScanPackageCandidates).
    PackageCandidates packages;
    // The language monitors and print processors the spooler's registry holds.
    std::vector<RegistryComponent> monitors;
    std::vector<RegistryComponent> printProcessors;
};

// The names of the installed drivers of `inventory`, each once, in the
// spooler's order.
std::vector<std::wstring> InstalledDriverNames(const DriverInventory& inventory);

// Which texts of the package candidates the plan reads: what they install
// and register (CandidateTexts::Registrations) where a set has leftovers
// (their files are told from their INFs) or the registry holds a language
// monitor or print processor that is not Windows' own (a package of the set
// may have brought it, or one that stays keep it); else only what the
// verdicts need (without such a component, Windows' own ones stay whatever
// the packages register).
CandidateTexts TextsThePlanNeeds(bool leftovers,
                                 const std::vector<RegistryComponent>& monitors,
                                 const std::vector<RegistryComponent>& printProcessors);

// Takes the facts for removing the drivers named `driverNames` (any that the
// set may take; empty names are passed over) from `inventory`, which the
// facts keep: the registry first, then the package candidates, with the
// texts TextsThePlanNeeds. Changes nothing and logs only what the walks log.
RemovalFacts DetectRemoval(DriverInventory inventory, const std::vector<std::wstring>& driverNames);
