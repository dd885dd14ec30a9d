#include "shell/uninstall_command.h"

#include <commctrl.h>

#include <vector>

#include "engine/system_restart.h"
#include "engine/removal_plan.h"
#include "engine/uninstall_sequence.h"
#include "log/operation_log.h"
#include "platform/win32_api.h"
#include "shell/driver_list.h"
#include "shell/threads.h"
#include "shell/ui_state.h"

std::atomic<int> progressValue{0};
std::atomic<bool> commandRunning{false};

namespace {

void ShowProgress(int value) {
    win32.SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void ResetProgress() {
    progressValue = 0;
    ShowProgress(0);
}

// Timer 1 belongs to mainDialog, a window of the GUI thread; only that thread
// may set or kill it, so the worker asks it to.
void StartProgressTimer() {
    win32.SendMessageW(mainDialog, WM_START_PROGRESS_TIMER, 0, 0);
}

void StopProgressTimer() {
    win32.SendMessageW(mainDialog, WM_STOP_PROGRESS_TIMER, 0, 0);
}

// The selected row's index in driverEntries, or -1 when there is none.
int SelectedRow() {
    const LRESULT index = win32.SendMessageW(listBox, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR || index < 0 || static_cast<size_t>(index) >= driverEntries.size()) {
        return -1;
    }
    return static_cast<int>(index);
}

void ReportResult(bool succeeded) {
    if (succeeded) {
        progressValue = 100;
        ShowProgress(100);
        if (win32.MessageBoxW(mainDialog, UNINSTALL_SUCCEEDED_TEXT, messageCaption.c_str(),
                              MB_YESNO) == IDYES) {
            RebootComputer();
        }
    } else {
        ResetProgress();
        win32.MessageBoxW(mainDialog, UNINSTALL_FAILED_TEXT, messageCaption.c_str(), MB_OK);
    }
}

}  // namespace

void LaunchUninstallCommand() {
    if (commandRunning.exchange(true))
        return;
    if (!LaunchThread(UninstallWorker, THREAD_PRIORITY_HIGHEST))
        commandRunning = false;
}

DWORD WINAPI UninstallWorker(LPVOID) {
    win32.EnableWindow(uninstallButton, FALSE);
    ShowProgress(progressValue += PROGRESS_STEP);
    StartProgressTimer();
    RunUninstallCommand();
    FillDriverList();
    commandRunning = false;
    return 0;
}

void RunUninstallCommand() {
    const int index = SelectedRow();
    if (index < 0) {
        ResetProgress();
        StopProgressTimer();
        win32.MessageBoxW(nullptr, SELECT_A_DRIVER_TEXT, nullptr, MB_ICONINFORMATION | MB_OK);
        win32.EnableWindow(uninstallButton, TRUE);
        return;
    }
    // What goes and what stays is decided here, once, against every driver
    // record the spooler (or, where it cannot be reached, its registry) has
    // now, and every device node: a driver that another row also names stays
    // (only the row's printer goes), a driver that printers use is not
    // removed at all, and the devices of the packages that go go with them.
    bool fromRegistry = false;
    DriverRecords everyDriver = EveryDriverRecord(fromRegistry);
    const DriverInventory inventory{driverEntries, driverUseCounts, std::move(everyDriver),
                                    fromRegistry, EnumerateDeviceNodes()};
    const RemovalPlan plan = PlanRemoval(driverEntries[static_cast<size_t>(index)], inventory);
    {
        win32.EnableWindow(uninstallButton, FALSE);
        bool succeeded = false;
        if (plan.printersUsingDriver.empty()) {
            succeeded = RunRemovalPlans({plan});
        } else {
            WriteLog(DriverInUseText(plan), false);
        }
        StopProgressTimer();
        ReportResult(succeeded);
    }
    ResetProgress();
    win32.EnableWindow(uninstallButton, TRUE);
}

bool HandleProgressTimerMessage(HWND dialog, UINT message) {
    if (message == WM_START_PROGRESS_TIMER) {
        win32.SetTimer(dialog, PROGRESS_TIMER_ID, PROGRESS_PERIOD_MS, ProgressTimerProc);
        return true;
    }
    if (message == WM_STOP_PROGRESS_TIMER) {
        win32.KillTimer(dialog, PROGRESS_TIMER_ID);
        return true;
    }
    return false;
}

void CALLBACK ProgressTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    ShowProgress(progressValue += PROGRESS_STEP);
}

BOOL RebootComputer() {
    RestartWindows(0);
    return TRUE;
}
