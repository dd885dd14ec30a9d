// What remains of a driver after its removal, told from a fresh inventory:
// the answer that tells an administrator whether the driver is really gone,
// and where it is not, what is left and why.
#pragma once

#include <string>
#include <vector>

#include "engine/file_helpers.h"
#include "engine/removal_plan.h"

enum class RemainingKind {
    Driver,
    Printer,
    File,
    OemInf,
    Package,
    Monitor,
    PrintProcessor,
    Device,
};

enum class RemainingState {
    Kept,       // the removal keeps it on purpose; `reason` says why
    AtRestart,  // in use, scheduled for deletion at the next restart
    Failed,     // it was to go and is still there
};

struct RemainingItem {
    RemainingKind kind = RemainingKind::File;
    // A driver's, printer's or monitor's name, a print processor's name with
    // its environment ("<name> (<environment>)"), a device node's instance
    // id; the path of a file, an oem
    // INF or a package folder (trailing backslash), as the removal walked it.
    std::wstring name;
    RemainingState state = RemainingState::Failed;
    // For a kept item: the plan's reason ("Windows' own package", "used by
    // driver X", "another device class (Image)"; for the driver of a
    // printer-only removal "used by printers A, B").
    std::wstring reason;
};

// Takes the inventory again (TakeDriverInventory) after the removal of
// `plan`, whose target's driver is `driverName` (for a printer-only removal
// the driver that stays), and lists what remains of it, in this order:
//  - each record of that name in any environment: kept when the plan kept
//    the driver (a printer-only removal), else failed;
//  - each printer of the plan that is still there: failed;
//  - each device node of the plan that is still there: failed;
//  - its files, oem INFs and packages that a new plan of that name finds
//    (PlanRowRemoval of a remaining record, else PlanLeftoverRemoval), and
//    those of `plan` (spooler files included) that still exist: kept with
//    the plan's reason when a plan keeps them; at the restart when the
//    removal scheduled them (`scheduled`, paths compared case-insensitively);
//    otherwise failed. Each path once. The files of a driver that a
//    printer-only removal keeps are not listed: they stay with the driver;
//  - the plan's language monitors and print processors that the spooler's
//    registry still holds (kept with the plan's reason, else failed), and
//    their DLLs that still exist, as the files above.
// Empty when the inventory finds nothing of the driver: that is the only
// answer that says nothing remains. Logs only what the walks log.
std::vector<RemainingItem> FindWhatRemains(const std::wstring& driverName,
                                           const RemovalPlan& plan,
                                           const ScheduledPaths& scheduled);

// One name of a set whose removal ran: its driver (as for FindWhatRemains)
// and its plan, which must outlive the query.
struct RemainsQuery {
    std::wstring driverName;
    const RemovalPlan* plan = nullptr;
};

// FindWhatRemains for every name of a set removed in one run, index for
// index, from one inventory taken after the run and one scan of the
// packages for all the names; `scheduled` holds what the whole run
// scheduled.
std::vector<std::vector<RemainingItem>> FindWhatRemainsOfSet(
    const std::vector<RemainsQuery>& queries,
    const ScheduledPaths& scheduled);
