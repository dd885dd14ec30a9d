// The third phase of a removal (detect, plan, apply, report): carries out the
// plans of a set (removal_2_plan.h) in one run, with one stop and one start
// of the spooler, one purge of the spool files and one re-enumeration of the
// devices for all of them.
#pragma once

#include <vector>

#include "engine/removal_plan.h"
#include "engine/uninstall_sequence.h"

// The plans as one run carries them out: refused plans left out, and each
// printer, driver, device node, file, oem INF, package, language monitor and
// print processor that goes taken by the first plan that plans it only (a
// later plan of the same driver keeps its printers alone). What a plan keeps
// is kept as it is.
std::vector<RemovalPlan> DistinctForRun(const std::vector<RemovalPlan>& plans);

// Carries out DistinctForRun(plans): RunRemovalPlans when any plan removes
// records, printers or drivers (leftovers among them go in the same cycle),
// else RunLeftoverRemovals. True when every step succeeded, or when there is
// nothing to run. `outcomes` and `bypass` as RunRemovalPlans fills them.
bool RunRemovalSet(const std::vector<RemovalPlan>& plans,
                   std::vector<StepOutcome>* outcomes = nullptr,
                   SpoolerBypass* bypass = nullptr);
