// The whole removal, in its one fixed order.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "engine/driver_inventory.h"
#include "engine/file_helpers.h"
#include "engine/removal_plan.h"

// The steps of the removal, in their order.
enum class UninstallStep {
    RestartSpooler,
    PurgePrintJobs,
    StopSpooler,
    PurgeSpoolFiles,
    DeleteDriverFiles,
    UninstallOemInfs,
    PurgeDriverStore,
    StartSpooler,
    DeletePrinter,
    DeleteDriver,
    ReenumerateDevices,
    // A removal while the spooler cannot run (see RunRemovalPlans).
    DeletePrinterKey,
    DeleteDriverKey,
    // The language monitors and print processors the drivers registered,
    // through the spooler, or, while it is stopped, through its registry.
    DeleteMonitor,
    DeletePrintProcessor,
    DeleteMonitorKey,
    DeletePrintProcessorKey,
    // The device nodes bound to the packages that go, before those packages.
    RemoveDevices,
};

// The step's name as reports show it: "RestartSpooler", "PurgePrintJobs", ...
const wchar_t* StepName(UninstallStep step);

// What one step did. A step that runs per row is recorded once per row, with
// the printer's or driver's name as its subject.
struct StepOutcome {
    UninstallStep step = UninstallStep::RestartSpooler;
    std::wstring subject;
    bool succeeded = false;
    // For a failed step: what it logged first, the failed call's name (or the
    // sentence it logged), and the last error that call left (0 for a
    // sentence).
    std::wstring failedCall;
    DWORD error = 0;
    // The files and folders this step could not delete because they were in
    // use, scheduled for deletion at the next restart (DeleteOrSchedule), in
    // the order they were scheduled. A step that scheduled some succeeded as
    // far as they are concerned: they go at the restart.
    ScheduledPaths scheduled;
    // The step succeeded, and Windows asked for a restart to finish it (a
    // device node whose removal needs one).
    bool restartNeeded = false;
};

// Every path the outcomes scheduled for the restart, in step order.
ScheduledPaths ScheduledAtRestart(const std::vector<StepOutcome>& outcomes);

// How a removal went on without the spooler.
struct SpoolerBypass {
    // The spooler could not run, so the removal changed its registry.
    bool registryUsed = false;
    // The spooler was started again afterwards and runs.
    bool spoolerRunsAgain = false;
};

// Carries out the plans (see removal_plan.h), which must not be refused; a
// plan of leftovers among them (PlanLeftoverRemoval) has its devices removed
// with the others', and its files, the keys of its monitors and print
// processors and its packages removed while the spooler is stopped, as
// RunLeftoverRemoval does:
//  1. restart the spooler, watching it for 1 s after its start, which is
//     the pause before the next step (SPOOLER_START_WATCH_MS);
//  2. for each plan with a driver, delete the first queued job of the
//     printer named like the driver ("删除打印作业失败" on failure);
//  2a. remove every plan's device nodes (RemoveDevice, one step per node,
//     the instance id its subject): while the spooler runs, so that the
//     printer class installer can take a node's print queue with it, and
//     while the packages still exist, as pnputil removes a package's devices
//     before the package;
//  3. stop the spooler ("关闭服务失败" on failure), pause 1 s;
//  4. delete the spool files;
//  5. for each plan with a driver: its driver files, its oem INF packages,
//     its driver-store package folders, each but those the plan keeps; a
//     file or folder in use is scheduled for the restart (DeleteOrSchedule,
//     recorded in its step's outcome), and only one that can be neither
//     deleted nor scheduled fails its step;
//  6. start the spooler ("开启服务失败" on failure), pause 1 s;
//  7. delete every plan's printers, then every plan's driver records (each
//     with its own environment), then every plan's language monitors and
//     print processors that go (DeleteMonitorW; DeletePrintProcessorW with
//     their environment), each followed by its DLL, through the spooler;
//  8. ask Plug and Play to re-enumerate the device tree (never a failure).
// Each loop runs over all plans, in order, before the next step begins.
// The first failing step ends the run with false: nothing is undone and the
// spooler is not started again on that path. Returns true when every step
// succeeded. With `outcomes` given, every step run is appended to it, the
// failed one last; the log gets the same records either way.
//
// When the restart finds that the spooler cannot run (StartSpoolerWatched:
// it stopped again after every start), the failed RestartSpooler is recorded
// and the removal goes on without the spooler, by the same plans:
//  1. the spooler is confirmed stopped ("关闭服务失败" otherwise), pause 1 s;
//  1a. every plan's device nodes are removed (they need no spooler; their
//     queues go with the printers' keys);
//  2. the spool files are deleted;
//  3. every plan's printers' keys, then every plan's driver's keys in every
//     environment and version, then the keys of its language monitors and
//     print processors that go, each followed by its DLL
//     (spooler_registry.h), each key only after the spooler has been found
//     stopped again ("打印后台处理程序正在运行，未修改注册表"
//     otherwise: the registry is never changed under a running spooler);
//  4. for each plan with a driver: its driver files, the files the spooler
//     would have deleted with it (spoolerFiles), its oem INFs and store
//     packages, each but those the plan keeps;
//  5. the spooler is started again (watched for 1 s, which is the pause
//     after it; "开启服务失败" when it does not run), also after a failure in
//     2 to 4, so that printing comes back wherever the driver's keys are
//     gone;
//  6. the device tree is re-enumerated.
// The result is then true when every step succeeded and the spooler runs;
// `bypass` (when given) says so.
bool RunRemovalPlans(const std::vector<RemovalPlan>& plans,
                     std::vector<StepOutcome>* outcomes = nullptr,
                     SpoolerBypass* bypass = nullptr);

// Carries out a plan of leftovers (PlanLeftoverRemoval): first its device
// nodes, before any service is touched (as in RunRemovalPlans); where files,
// a language monitor or a print processor must go, the spooler is stopped
// ("关闭服务失败" on failure), paused for 1 s, the files deleted, then the
// monitors' and print processors' keys (only while the spooler is found
// stopped, as without the spooler) and their DLLs, which the stopped spooler
// no longer holds; then the oem INFs and the store packages; and the spooler
// started again ("开启服务失败" on failure), also after a failed deletion, so
// that printing goes on (that start is then recorded after the failed step).
// Otherwise no service is touched. Files and folders in use are scheduled
// for the restart as in RunRemovalPlans. Returns true when every step
// succeeded.
bool RunLeftoverRemoval(const RemovalPlan& plan, std::vector<StepOutcome>* outcomes = nullptr);

// RunLeftoverRemoval for several plans of leftovers in one run: every plan's
// device nodes, then, where any plan's files, monitors or print processors
// go, one stop of the spooler, each plan's files, keys and packages in turn,
// and one start.
bool RunLeftoverRemovals(const std::vector<RemovalPlan>& plans,
                         std::vector<StepOutcome>* outcomes = nullptr);

// Removes the rows as they are given (PlanRowRemoval of each, against every
// driver record the spooler, or where it cannot be reached its registry, has
// before anything is changed), then RunRemovalPlans.
bool RunUninstallSequence(const std::vector<DriverListEntry>& rows,
                          std::vector<StepOutcome>* outcomes = nullptr);
