#include "engine/uninstall_sequence.h"

#include <algorithm>
#include <string>

#include "engine/driver_files.h"
#include "engine/driver_packages.h"
#include "engine/queue_purge.h"
#include "engine/service_control.h"
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
        const bool succeeded = run();
        if (outcomes_ != nullptr) {
            StepOutcome outcome{step, subject, succeeded, {}, 0};
            if (!succeeded) {
                const LoggedFailure failure = FirstLoggedFailure();
                outcome.failedCall = failure.text;
                outcome.error = failure.error;
            }
            outcomes_->push_back(std::move(outcome));
        }
        return succeeded;
    }

  private:
    std::vector<StepOutcome>* outcomes_;
};

bool PurgeJobsOfEveryDriver(StepRunner& steps, const std::vector<RemovalPlan>& plans) {
    for (const RemovalPlan& plan : plans) {
        if (plan.driver.empty())
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

// Runs while the spooler is stopped: every file the drivers left behind.
bool RemoveFilesOfEveryDriver(StepRunner& steps, const std::vector<RemovalPlan>& plans) {
    if (!steps.Run(UninstallStep::PurgeSpoolFiles, L"", [] { return PurgeSpoolFiles(); }))
        return false;
    for (const RemovalPlan& plan : plans) {
        if (plan.driver.empty())
            continue;
        const std::wstring& name = plan.driver;
        if (!steps.Run(UninstallStep::DeleteDriverFiles, name,
                       [&] { return DeleteDriverFiles(plan.driverFiles) != FALSE; }) ||
            !steps.Run(UninstallStep::UninstallOemInfs, name,
                       [&] { return UninstallOemInfs(plan.packages.oemInfs) != FALSE; }) ||
            !steps.Run(UninstallStep::PurgeDriverStore, name,
                       [&] { return PurgeDriverStore(plan.packages.packages) != FALSE; })) {
            return false;
        }
    }
    return true;
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
    }
    return L"";
}

bool RunUninstallSequence(const std::vector<DriverListEntry>& rows,
                          std::vector<StepOutcome>* outcomes) {
    const DriverRecords everyDriver = rows.empty() ? DriverRecords{} : EnumerateEveryDriverRecord();
    std::vector<RemovalPlan> plans;
    for (const DriverListEntry& row : rows)
        plans.push_back(PlanRowRemoval(row, everyDriver));
    return RunRemovalPlans(plans, outcomes);
}

bool RunRemovalPlans(const std::vector<RemovalPlan>& plans, std::vector<StepOutcome>* outcomes) {
    StepRunner steps(outcomes);
    if (!steps.Run(UninstallStep::RestartSpooler, kSpooler, [] { return RestartSpooler(); }))
        return false;
    win32.Sleep(kStepPauseMs);
    if (!PurgeJobsOfEveryDriver(steps, plans))
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

    // Never a failure: Plug and Play finds the devices again at the latest on
    // the next start.
    steps.Run(UninstallStep::ReenumerateDevices, L"", [] {
        ReenumerateDeviceTree();
        return true;
    });
    return true;
}

bool RunLeftoverRemoval(const RemovalPlan& plan, std::vector<StepOutcome>* outcomes) {
    StepRunner steps(outcomes);
    const bool filesGo =
        std::any_of(plan.driverFiles.begin(), plan.driverFiles.end(),
                    [](const DriverFileMatch& file) { return file.keptBecause.empty(); });
    if (filesGo) {
        if (!steps.Run(UninstallStep::StopSpooler, kSpooler, StopSpooler))
            return false;
        win32.Sleep(kStepPauseMs);
    }
    const std::wstring& name = plan.driver;
    const bool removed =
        (!filesGo || steps.Run(UninstallStep::DeleteDriverFiles, name,
                               [&] { return DeleteDriverFiles(plan.driverFiles) != FALSE; })) &&
        steps.Run(UninstallStep::UninstallOemInfs, name,
                  [&] { return UninstallOemInfs(plan.packages.oemInfs) != FALSE; }) &&
        steps.Run(UninstallStep::PurgeDriverStore, name,
                  [&] { return PurgeDriverStore(plan.packages.packages) != FALSE; });
    const bool started = !filesGo || steps.Run(UninstallStep::StartSpooler, kSpooler, StartSpooler);
    return removed && started;
}
