#include "engine/uninstall_sequence.h"

#include <algorithm>
#include <string>

#include "engine/device_nodes.h"
#include "engine/driver_files.h"
#include "engine/driver_packages.h"
#include "engine/file_helpers.h"
#include "engine/queue_purge.h"
#include "engine/service_control.h"
#include "engine/spooler_registry.h"
#include "engine/spooler_removal.h"
#include "log/operation_log.h"
#include "platform/win32_api.h"

namespace {

constexpr wchar_t kSpooler[] = L"Spooler";
constexpr DWORD kStepPauseMs = 1000;

// Runs the steps and, where asked, records each one's outcome.
class StepRunner {
  public:
    explicit StepRunner(std::vector<StepOutcome>* outcomes) : outcomes_(outcomes) {}

    template <typename Step>
    bool Run(UninstallStep step, const std::wstring& subject, Step&& run) {
        ForgetLoggedFailure();
        scheduled_.clear();
        const bool succeeded = run();
        if (outcomes_ != nullptr) {
            StepOutcome outcome{step, subject, succeeded, {}, 0, std::move(scheduled_)};
            if (!succeeded) {
                const LoggedFailure failure = FirstLoggedFailure();
                outcome.failedCall = failure.text;
                outcome.error = failure.error;
            }
            outcomes_->push_back(std::move(outcome));
        }
        return succeeded;
    }

    // Where the running step records what it scheduled for the restart.
    ScheduledPaths& Scheduled() { return scheduled_; }
    // The step just recorded asked for a restart to finish.
    void NeedsRestart() {
        if (outcomes_ != nullptr && !outcomes_->empty())
            outcomes_->back().restartNeeded = true;
    }

  private:
    std::vector<StepOutcome>* outcomes_;
    ScheduledPaths scheduled_;
};

// The plan's device nodes, one step each; the first failure ends the step.
bool RemoveDevicesOf(StepRunner& steps, const RemovalPlan& plan) {
    for (const DeviceNode& device : plan.devices) {
        bool restartNeeded = false;
        if (!steps.Run(UninstallStep::RemoveDevices, device.instanceId,
                       [&] { return RemoveDevice(device, restartNeeded); })) {
            return false;
        }
        if (restartNeeded)
            steps.NeedsRestart();
    }
    return true;
}

bool RemoveDevicesOfEveryPlan(StepRunner& steps, const std::vector<RemovalPlan>& plans) {
    return std::all_of(plans.begin(), plans.end(),
                       [&](const RemovalPlan& plan) { return RemoveDevicesOf(steps, plan); });
}

bool PurgeJobsOfEveryDriver(StepRunner& steps, const std::vector<RemovalPlan>& plans) {
    for (const RemovalPlan& plan : plans) {
        if (plan.driver.empty() || plan.leftovers)
            continue;
        const bool purged = steps.Run(UninstallStep::PurgePrintJobs, plan.driver, [&] {
            if (PurgePrintJobs(plan.driver))
                return true;
            WriteLog(L"删除打印作业失败", false);
            return false;
        });
        if (!purged)
            return false;
    }
    return true;
}

// The plan's oem INFs, then its store packages.
bool RemovePackages(StepRunner& steps, const RemovalPlan& plan) {
    return steps.Run(UninstallStep::UninstallOemInfs, plan.driver, [&] {
        return UninstallOemInfs(plan.packages.oemInfs, steps.Scheduled()) != FALSE;
    }) && steps.Run(UninstallStep::PurgeDriverStore, plan.driver, [&] {
        return PurgeDriverStore(plan.packages.packages, steps.Scheduled()) != FALSE;
    });
}

// What the removal without the spooler logs when it finds the spooler
// running before a change of its registry.
constexpr wchar_t kSpoolerRunsText[] = L"打印后台处理程序正在运行，未修改注册表";

// Runs `change` on the spooler's registry only while the spooler is stopped.
template <typename Change>
bool WhileSpoolerStopped(Change&& change) {
    if (!SpoolerIsStopped()) {
        WriteLog(kSpoolerRunsText, false);
        return false;
    }
    return change();
}

// The one place where a language monitor's or print processor's DLL is
// deleted, once its registration is gone: none, or one that stays, is
// success.
bool DeleteComponentDll(const RegisteredComponent& component, ScheduledPaths& scheduled) {
    // The spooler may still hold a DLL it loaded: that one goes at the restart.
    return component.dll.empty() || !component.dllKeptBecause.empty() ||
           DeleteOrSchedule(component.dll, scheduled) != FALSE;
}

bool Goes(const RegisteredComponent& component) {
    return component.keptBecause.empty();
}

bool AnyFileGoes(const RemovalPlan& plan) {
    return std::any_of(plan.driverFiles.begin(), plan.driverFiles.end(),
                       [](const DriverFileMatch& file) { return file.keptBecause.empty(); });
}

bool AnyComponentGoes(const RemovalPlan& plan) {
    return std::any_of(plan.monitors.begin(), plan.monitors.end(), Goes) ||
           std::any_of(plan.printProcessors.begin(), plan.printProcessors.end(), Goes);
}

// Unregisters a monitor or print processor: through the spooler's call, or,
// with `throughRegistry`, by its key while the spooler is stopped.
bool Unregister(const RegisteredComponent& component, bool monitor, bool throughRegistry) {
    if (!throughRegistry) {
        return monitor ? DeleteMonitorFromSpooler(component.name)
                       : DeletePrintProcessorFromSpooler(component.environment, component.name);
    }
    return WhileSpoolerStopped([&] {
        return monitor ? DeleteMonitorKey(component.name)
                       : DeletePrintProcessorKey(component.environment, component.name);
    });
}

// The plan's language monitors, then its print processors, that go, each
// unregistered and then its DLL deleted; the first failure ends the step.
bool RemoveComponents(StepRunner& steps, const RemovalPlan& plan, bool throughRegistry) {
    for (const bool monitor : {true, false}) {
        const UninstallStep step =
            monitor
                ? (throughRegistry ? UninstallStep::DeleteMonitorKey : UninstallStep::DeleteMonitor)
                : (throughRegistry ? UninstallStep::DeletePrintProcessorKey
                                   : UninstallStep::DeletePrintProcessor);
        for (const RegisteredComponent& component :
             monitor ? plan.monitors : plan.printProcessors) {
            if (Goes(component) && !steps.Run(step, component.name, [&] {
                    return Unregister(component, monitor, throughRegistry) &&
                           DeleteComponentDll(component, steps.Scheduled());
                })) {
                return false;
            }
        }
    }
    return true;
}

// Runs while the spooler is stopped, for each driver of the plans: its files
// (with `withoutSpooler` also those that the spooler deletes with its
// record, when the spooler cannot do so), then for leftovers, where the
// spooler running would still hold them, the keys of their monitors and
// print processors (without the spooler every plan's went with the records),
// then its oem INFs and its store packages.
bool RemoveDriverFilesAndPackages(StepRunner& steps,
                                  const std::vector<RemovalPlan>& plans,
                                  bool withoutSpooler) {
    for (const RemovalPlan& plan : plans) {
        if (plan.driver.empty())
            continue;
        if (!steps.Run(UninstallStep::DeleteDriverFiles, plan.driver,
                       [&] {
                           const BOOL own = DeleteDriverFiles(plan.driverFiles, steps.Scheduled());
                           return (!withoutSpooler ||
                                   DeleteDriverFiles(plan.spoolerFiles, steps.Scheduled())) &&
                                  own != FALSE;
                       }) ||
            (plan.leftovers && !withoutSpooler && !RemoveComponents(steps, plan, true)) ||
            !RemovePackages(steps, plan)) {
            return false;
        }
    }
    return true;
}

// Runs while the spooler is stopped: every file the drivers left behind.
bool RemoveFilesOfEveryDriver(StepRunner& steps, const std::vector<RemovalPlan>& plans) {
    return steps.Run(UninstallStep::PurgeSpoolFiles, L"", [] { return PurgeSpoolFiles(); }) &&
           RemoveDriverFilesAndPackages(steps, plans, false);
}

bool RemoveSpoolerRecords(StepRunner& steps, const std::vector<RemovalPlan>& plans) {
    for (const RemovalPlan& plan : plans) {
        for (const std::wstring& printer : plan.printers) {
            if (!steps.Run(UninstallStep::DeletePrinter, printer,
                           [&] { return DeletePrinterByName(printer); })) {
                return false;
            }
        }
    }
    // One record per environment, each with its own environment; the first
    // refusal ends the step.
    for (const RemovalPlan& plan : plans) {
        for (const auto& record : plan.driverRecords) {
            if (!steps.Run(UninstallStep::DeleteDriver, plan.driver,
                           [&] { return DeleteDriverFromSpooler(*record); })) {
                return false;
            }
        }
    }
    // What the drivers registered, once no record names it any longer; the
    // leftovers' went by their keys while the spooler was stopped.
    for (const RemovalPlan& plan : plans) {
        if (!plan.leftovers && !RemoveComponents(steps, plan, false))
            return false;
    }
    return true;
}

bool StopSpooler() {
    if (StopServiceByName(kSpooler))
        return true;
    WriteLog(L"关闭服务失败", false);
    return false;
}

bool StartSpooler() {
    if (StartServiceByName(kSpooler))
        return true;
    WriteLog(L"开启服务失败", false);
    return false;
}

bool RemoveRegistryRecords(StepRunner& steps, const std::vector<RemovalPlan>& plans) {
    for (const RemovalPlan& plan : plans) {
        for (const std::wstring& printer : plan.printers) {
            if (!steps.Run(UninstallStep::DeletePrinterKey, printer, [&] {
                    return WhileSpoolerStopped([&] { return DeletePrinterKey(printer); });
                })) {
                return false;
            }
        }
    }
    for (const RemovalPlan& plan : plans) {
        if (!plan.driver.empty() && !plan.leftovers &&
            !steps.Run(UninstallStep::DeleteDriverKey, plan.driver, [&] {
                return WhileSpoolerStopped([&] { return DeleteDriverKeys(plan.driver); });
            })) {
            return false;
        }
    }
    for (const RemovalPlan& plan : plans) {
        if (!RemoveComponents(steps, plan, true))
            return false;
    }
    return true;
}

bool StartSpoolerAndWatch() {
    if (StartSpoolerWatched() == SpoolerStart::Running)
        return true;
    WriteLog(L"开启服务失败", false);
    return false;
}

void Reenumerate(StepRunner& steps) {
    // Never a failure: Plug and Play finds the devices again at the latest on
    // the next start.
    steps.Run(UninstallStep::ReenumerateDevices, L"", [] {
        ReenumerateDeviceTree();
        return true;
    });
}

// The removal while the spooler cannot run (see RunRemovalPlans).
bool RemoveWithoutSpooler(StepRunner& steps,
                          const std::vector<RemovalPlan>& plans,
                          SpoolerBypass& bypass) {
    bypass.registryUsed = true;
    if (!steps.Run(UninstallStep::StopSpooler, kSpooler, StopSpooler))
        return false;
    win32.Sleep(kStepPauseMs);
    const bool removed =
        RemoveDevicesOfEveryPlan(steps, plans) &&
        steps.Run(UninstallStep::PurgeSpoolFiles, L"", [] { return PurgeSpoolFiles(); }) &&
        RemoveRegistryRecords(steps, plans) && RemoveDriverFilesAndPackages(steps, plans, true);
    bypass.spoolerRunsAgain =
        steps.Run(UninstallStep::StartSpooler, kSpooler, StartSpoolerAndWatch);
    if (!removed || !bypass.spoolerRunsAgain)
        return false;
    // The watch of that start was the pause after it.
    Reenumerate(steps);
    return true;
}

}  // namespace

const wchar_t* StepName(UninstallStep step) {
    switch (step) {
        case UninstallStep::RestartSpooler:
            return L"RestartSpooler";
        case UninstallStep::PurgePrintJobs:
            return L"PurgePrintJobs";
        case UninstallStep::StopSpooler:
            return L"StopSpooler";
        case UninstallStep::PurgeSpoolFiles:
            return L"PurgeSpoolFiles";
        case UninstallStep::DeleteDriverFiles:
            return L"DeleteDriverFiles";
        case UninstallStep::UninstallOemInfs:
            return L"UninstallOemInfs";
        case UninstallStep::PurgeDriverStore:
            return L"PurgeDriverStore";
        case UninstallStep::StartSpooler:
            return L"StartSpooler";
        case UninstallStep::DeletePrinter:
            return L"DeletePrinter";
        case UninstallStep::DeleteDriver:
            return L"DeleteDriver";
        case UninstallStep::ReenumerateDevices:
            return L"ReenumerateDevices";
        case UninstallStep::DeletePrinterKey:
            return L"DeletePrinterKey";
        case UninstallStep::DeleteDriverKey:
            return L"DeleteDriverKey";
        case UninstallStep::DeleteMonitor:
            return L"DeleteMonitor";
        case UninstallStep::DeletePrintProcessor:
            return L"DeletePrintProcessor";
        case UninstallStep::DeleteMonitorKey:
            return L"DeleteMonitorKey";
        case UninstallStep::DeletePrintProcessorKey:
            return L"DeletePrintProcessorKey";
        case UninstallStep::RemoveDevices:
            return L"RemoveDevices";
    }
    return L"";
}

ScheduledPaths ScheduledAtRestart(const std::vector<StepOutcome>& outcomes) {
    ScheduledPaths scheduled;
    for (const StepOutcome& outcome : outcomes)
        scheduled.insert(scheduled.end(), outcome.scheduled.begin(), outcome.scheduled.end());
    return scheduled;
}

bool RunUninstallSequence(const std::vector<DriverListEntry>& rows,
                          std::vector<StepOutcome>* outcomes) {
    bool fromRegistry = false;
    const DriverRecords everyDriver =
        rows.empty() ? DriverRecords{} : EveryDriverRecord(fromRegistry);
    const std::vector<DeviceNode> devices =
        rows.empty() ? std::vector<DeviceNode>{} : EnumerateDeviceNodes();
    std::vector<RemovalPlan> plans;
    for (const DriverListEntry& row : rows)
        plans.push_back(PlanRowRemoval(row, everyDriver, devices));
    return RunRemovalPlans(plans, outcomes);
}

bool RunRemovalPlans(const std::vector<RemovalPlan>& plans,
                     std::vector<StepOutcome>* outcomes,
                     SpoolerBypass* bypass) {
    StepRunner steps(outcomes);
    SpoolerBypass unused;
    SpoolerStart restart = SpoolerStart::Failed;
    if (!steps.Run(UninstallStep::RestartSpooler, kSpooler, [&] {
            restart = RestartSpoolerWatched();
            return restart == SpoolerStart::Running;
        })) {
        return restart == SpoolerStart::CannotRun &&
               RemoveWithoutSpooler(steps, plans, bypass != nullptr ? *bypass : unused);
    }
    // The pause after the restart was its watch (SPOOLER_START_WATCH_MS).
    if (!PurgeJobsOfEveryDriver(steps, plans) || !RemoveDevicesOfEveryPlan(steps, plans))
        return false;

    if (!steps.Run(UninstallStep::StopSpooler, kSpooler, StopSpooler))
        return false;
    win32.Sleep(kStepPauseMs);
    if (!RemoveFilesOfEveryDriver(steps, plans))
        return false;

    if (!steps.Run(UninstallStep::StartSpooler, kSpooler, StartSpooler))
        return false;
    win32.Sleep(kStepPauseMs);
    if (!RemoveSpoolerRecords(steps, plans))
        return false;
    Reenumerate(steps);
    return true;
}

bool RunLeftoverRemoval(const RemovalPlan& plan, std::vector<StepOutcome>* outcomes) {
    return RunLeftoverRemovals({plan}, outcomes);
}

bool RunLeftoverRemovals(const std::vector<RemovalPlan>& plans,
                         std::vector<StepOutcome>* outcomes) {
    StepRunner steps(outcomes);
    if (!RemoveDevicesOfEveryPlan(steps, plans))
        return false;
    // A monitor or print processor goes while the spooler is stopped: its
    // keys are what the spooler loads at its start, and its DLL is then free.
    const bool stops = std::any_of(plans.begin(), plans.end(), [](const RemovalPlan& plan) {
        return AnyFileGoes(plan) || AnyComponentGoes(plan);
    });
    if (stops) {
        if (!steps.Run(UninstallStep::StopSpooler, kSpooler, StopSpooler))
            return false;
        win32.Sleep(kStepPauseMs);
    }
    const bool removed = std::all_of(plans.begin(), plans.end(), [&](const RemovalPlan& plan) {
        return (!AnyFileGoes(plan) || steps.Run(UninstallStep::DeleteDriverFiles, plan.driver,
                                                [&] {
                                                    return DeleteDriverFiles(plan.driverFiles,
                                                                             steps.Scheduled()) !=
                                                           FALSE;
                                                })) &&
               RemoveComponents(steps, plan, true) && RemovePackages(steps, plan);
    });
    const bool started = !stops || steps.Run(UninstallStep::StartSpooler, kSpooler, StartSpooler);
    return removed && started;
}
