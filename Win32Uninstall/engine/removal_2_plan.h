// The second phase of a removal (detect, plan, apply, report): what the
// removal of a set of names takes and keeps, decided once from the facts of
// the first phase (removal_1_detect.h), before any service is touched. A
// removal of one name is a set of one.
//
// The rules of a single removal (removal_plan.h) hold for each name, judged
// against what stays after the whole set:
//  - a driver that a printer of the set names goes with the set's last
//    printer that uses it, unless a row outside the set names it too;
//  - a driver that printers outside the set use is refused (unless they go
//    with it); the others go;
//  - a file goes when no driver outside the set names it; a package whose
//    INF names only drivers of the set goes, one that names an installed
//    driver outside the set stays;
//  - a language monitor or print processor goes when no driver, printer or
//    package outside the set uses it.
// An item that several names take is planned in each of their plans; the
// removal (removal_3_apply.h) takes it once.
#pragma once

#include <vector>

#include "engine/removal_1_detect.h"
#include "engine/removal_plan.h"

// One name of the set: a listed row, or the leftovers of a driver that no
// record has any longer (`row` then names the driver only).
struct SetMember {
    DriverListEntry row;
    bool leftovers = false;
};

// The leftovers member of `driverName`.
SetMember LeftoversOf(const std::wstring& driverName);

// The names of the drivers that the members take, each once, as the plan
// decides it from the inventory alone: what DetectRemoval reads the packages
// for.
std::vector<std::wstring> DriverNamesOf(const std::vector<SetMember>& members,
                                        const DriverInventory& inventory,
                                        bool withPrinters);

// One plan per member, index for index (see the rules above and PlanRemoval,
// PlanLeftoverRemoval); `withPrinters` holds for every driver row. Walks the
// driver folders; reads nothing else; changes nothing.
std::vector<RemovalPlan> PlanRemovalSet(const std::vector<SetMember>& members,
                                        const RemovalFacts& facts,
                                        bool withPrinters);
