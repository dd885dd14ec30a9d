// The uninstall command with the dialog, the spooler list and the machine as
// fakes: which row reaches the removal, the boxes, the bar, the button, the
// timer, the reboot and the one-command-at-a-time guard.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fakes/fake_dialog.h"
#include "fakes/fake_machine.h"
#include "fakes/fake_spooler.h"
#include "fakes/utf8_operation_log.h"
#include "shell/driver_list.h"
#include "shell/main_dialog.h"
#include "shell/ui_state.h"
#include "shell/uninstall_command.h"
#include "support/test_support.h"

namespace {

using fake_dialog::dialog;
using fake_spooler::spooler;

struct Box {
    HWND owner;
    std::wstring text;
    bool hasCaption;
    std::wstring caption;
    UINT type;
    int barAtBox;  // the bar's position while the box was up
};

std::vector<Box> boxes;
int boxAnswer = IDNO;
std::vector<BOOL> buttonStates;  // EnableWindow(uninstallButton, ...) in order
std::vector<std::string> timerCalls;
std::vector<UINT> rebootFlags;

int BarPosition() {
    int position = -1;
    for (const fake_dialog::SentMessage& sent : dialog.otherMessages) {
        if (sent.window == progressBar && sent.message == PBM_SETPOS)
            position = static_cast<int>(sent.wParam);
    }
    return position;
}

// The timer requests the worker sent to the dialog, in order.
std::vector<UINT> TimerRequests() {
    std::vector<UINT> requests;
    for (const fake_dialog::SentMessage& sent : dialog.otherMessages) {
        if (sent.window == mainDialog &&
            (sent.message == WM_START_PROGRESS_TIMER || sent.message == WM_STOP_PROGRESS_TIMER))
            requests.push_back(sent.message);
    }
    return requests;
}

int WINAPI RecordingMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    boxes.push_back(
        {owner, text, caption != nullptr, caption ? caption : L"", type, BarPosition()});
    return boxAnswer;
}

BOOL WINAPI RecordingEnableWindow(HWND window, BOOL enable) {
    if (window == uninstallButton)
        buttonStates.push_back(enable);
    return TRUE;
}

UINT_PTR WINAPI RecordingSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC procedure) {
    std::ostringstream call;
    call << "SetTimer " << (window == mainDialog) << " " << id << " " << period << " "
         << (procedure == ProgressTimerProc);
    timerCalls.push_back(call.str());
    return id;
}

BOOL WINAPI RecordingKillTimer(HWND window, UINT_PTR id) {
    std::ostringstream call;
    call << "KillTimer " << (window == mainDialog) << " " << id;
    timerCalls.push_back(call.str());
    return TRUE;
}

BOOL WINAPI RecordingExitWindows(UINT flags, DWORD) {
    rebootFlags.push_back(flags);
    return TRUE;
}

class UninstallCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        boxes.clear();
        buttonStates.clear();
        timerCalls.clear();
        rebootFlags.clear();
        boxAnswer = IDNO;
        progressValue = 0;
        commandRunning = false;
        fake_spooler::Install();
        fake_dialog::Install();
        WriteOperationLogAsUtf8();
        win32.MessageBoxW = RecordingMessageBox;
        win32.EnableWindow = RecordingEnableWindow;
        win32.SetTimer = RecordingSetTimer;
        win32.KillTimer = RecordingKillTimer;
        win32.ExitWindowsEx = RecordingExitWindows;
    }
    void TearDown() override { ResetOperationLog(); }

    // Fills the list from the fake spooler, then puts the fake machine behind
    // the removal steps with the same printers.
    void FillAndSelect(int row) {
        FillDriverList();
        dialog.selection = row;
        machine = &InstallFakeMachine(scratch.path());
        for (const fake_spooler::Printer& printer : spooler.printers)
            machine->printers.insert(printer.name);
    }

    std::vector<std::string> DriverRemovals() const {
        return CallsNamed({"DeletePrinterDriverEx"});
    }
    std::vector<std::string> PrinterRemovals() const { return CallsNamed({"DeletePrinter"}); }

    ScratchFolder scratch;
    ScopedWin32Fakes fakes;
    fake_dialog::ScopedUiState uiState;
    FakeMachineState* machine = nullptr;
};

TEST_F(UninstallCommand, NoSelectionShowsReminderWithoutOwnerOrCaptionAndRebuildsTheList) {
    spooler.printers = {{L"Office", L"KAVRO PCL"}};
    spooler.drivers = {L"KAVRO PCL"};
    FillDriverList();
    const int fillsBefore = dialog.resets;

    UninstallWorker(nullptr);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_FALSE(boxes[0].hasCaption);
    EXPECT_EQ(boxes[0].text, SELECT_A_DRIVER_TEXT);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION | MB_OK));
    EXPECT_EQ(boxes[0].barAtBox, 0);
    EXPECT_EQ(TimerRequests(),
              (std::vector<UINT>{WM_START_PROGRESS_TIMER, WM_STOP_PROGRESS_TIMER}));
    EXPECT_EQ(buttonStates, (std::vector<BOOL>{FALSE, TRUE}));
    EXPECT_EQ(progressValue, 0);
    EXPECT_EQ(dialog.resets, fillsBefore + 1);
    EXPECT_EQ(dialog.items, (std::vector<std::wstring>{L"Office", L"KAVRO PCL"}));
    EXPECT_FALSE(commandRunning);
}

TEST_F(UninstallCommand, DriverUsedByOneRowOnlyIsHandedOverWithItsPrinter) {
    // A printer named like its driver: the driver has no row of its own, count 1.
    spooler.printers = {{L"KAVRO X1", L"KAVRO X1"}};
    spooler.drivers = {L"KAVRO X1"};
    FillAndSelect(0);
    ASSERT_EQ(driverUseCounts[L"KAVRO X1"], 1);

    RunUninstallCommand();
    EXPECT_EQ(PrinterRemovals(), std::vector<std::string>{"DeletePrinter(KAVRO X1)"});
    ASSERT_EQ(DriverRemovals().size(), 1u);
    EXPECT_NE(DriverRemovals()[0].find(",KAVRO X1,1,"), std::string::npos);
}

TEST_F(UninstallCommand, PrinterWhoseDriverAnotherPrinterUsesKeepsTheDriver) {
    spooler.printers = {{L"Office", L"Shared PCL"}, {L"Lab", L"Shared PCL"}};
    FillAndSelect(1);
    ASSERT_EQ(driverUseCounts[L"Shared PCL"], 2);

    RunUninstallCommand();
    EXPECT_EQ(PrinterRemovals(), std::vector<std::string>{"DeletePrinter(Lab)"});
    EXPECT_EQ(DriverRemovals(), std::vector<std::string>{});
    EXPECT_EQ(CallsNamed({"EnumJobs", "SetupUninstallOEMInf"}), std::vector<std::string>{});
}

// Removing it would fail at the spooler (in use) after every file had gone;
// nothing is changed and the user is told it failed.
TEST_F(UninstallCommand, DriverRowThatPrintersStillUseIsRefusedWithoutTouchingAnything) {
    spooler.printers = {{L"Office", L"Shared PCL"}, {L"Lab", L"Shared PCL"}};
    spooler.drivers = {L"Shared PCL"};
    FillAndSelect(2);
    ASSERT_EQ(driverUseCounts[L"Shared PCL"], 3);

    RunUninstallCommand();
    EXPECT_EQ(CallsNamed({"OpenSCManager", "OpenService", "ControlService", "StartService",
                          "OpenPrinter", "DeleteFile", "SetupUninstallOEMInf",
                          "DeletePrinterDriverEx", "CM_Locate_DevNode"}),
              std::vector<std::string>{});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, UNINSTALL_FAILED_TEXT);
    EXPECT_EQ(OperationLogText().find("failed"), std::string::npos);
    EXPECT_EQ(CountOf(OperationLogText(), "驱动Shared PCL正被打印机使用，未卸载：Office、Lab"), 1);
}

TEST_F(UninstallCommand, SuccessAsksAtFullBarAndYesReboots) {
    spooler.printers = {{L"Office", L"Shared PCL"}, {L"Lab", L"Shared PCL"}};
    FillAndSelect(0);
    boxAnswer = IDYES;

    RunUninstallCommand();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, mainDialog);
    EXPECT_EQ(boxes[0].caption, messageCaption);
    EXPECT_EQ(boxes[0].text, UNINSTALL_SUCCEEDED_TEXT);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(boxes[0].barAtBox, 100);
    EXPECT_EQ(rebootFlags, std::vector<UINT>{EWX_REBOOT});
    EXPECT_EQ(BarPosition(), 0);
    EXPECT_EQ(buttonStates.back(), TRUE);
    EXPECT_EQ(TimerRequests(), std::vector<UINT>{WM_STOP_PROGRESS_TIMER});
}

// A file of the driver's package that another program holds goes at the
// restart; it is the run's only shortfall, so the dialog shows the success
// question, which offers that restart (the record's deletion, which Wine
// refuses with 87, is the fake machine's).
TEST_F(UninstallCommand, HeldPackageFileGoesAtTheRestartAndTheSuccessBoxOffersIt) {
    spooler.drivers = {L"Lone PCL"};
    FillAndSelect(0);
    const std::wstring package =
        scratch.path() + L"System32\\DriverStore\\FileRepository\\lone.inf_x86_1\\";
    WriteBytes(package + L"lone.inf", "Model=\"Lone PCL\"\r\n");
    WriteBytes(package + L"lone.dll", "MZ");
    machine->filesInUse = {{package + L"lone.dll", ERROR_SHARING_VIOLATION}};

    RunUninstallCommand();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, UNINSTALL_SUCCEEDED_TEXT);
    EXPECT_EQ(CallsNamed({"MoveFileEx"}).size(), 2u) << "the file, then its folder";
    EXPECT_EQ(
        CountOf(OperationLogText(), "文件正在使用，将在重启后删除：" + Utf8(package) + "lone.dll"),
        1);
    EXPECT_EQ(DriverRemovals().size(), 1u);
}

TEST_F(UninstallCommand, SuccessAnsweredNoDoesNotReboot) {
    spooler.printers = {{L"Office", L"Shared PCL"}, {L"Lab", L"Shared PCL"}};
    FillAndSelect(0);
    boxAnswer = IDNO;
    RunUninstallCommand();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, UNINSTALL_SUCCEEDED_TEXT);
    EXPECT_TRUE(rebootFlags.empty());
    EXPECT_EQ(progressValue, 0);
}

TEST_F(UninstallCommand, FailureShowsTheMessageAtAnEmptyBarAndOffersNoReboot) {
    spooler.printers = {{L"Office", L"Shared PCL"}, {L"Lab", L"Shared PCL"}};
    FillAndSelect(0);
    progressValue = 40;
    FailCalls("ControlService", 1, ERROR_ACCESS_DENIED);
    boxAnswer = IDYES;

    RunUninstallCommand();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, mainDialog);
    EXPECT_EQ(boxes[0].caption, messageCaption);
    EXPECT_EQ(boxes[0].text, UNINSTALL_FAILED_TEXT);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes[0].barAtBox, 0);
    EXPECT_TRUE(rebootFlags.empty());
    EXPECT_EQ(buttonStates.back(), TRUE);
}

TEST_F(UninstallCommand, DialogStartsAndStopsTimerOneOnItsOwnThreadWhenTheWorkerAsks) {
    // SetTimer and KillTimer only act on windows of the calling thread, so the
    // dialog procedure, which runs on the GUI thread, serves the requests.
    EXPECT_EQ(MainDialogProc(mainDialog, WM_START_PROGRESS_TIMER, 0, 0), TRUE);
    EXPECT_EQ(MainDialogProc(mainDialog, WM_STOP_PROGRESS_TIMER, 0, 0), TRUE);
    EXPECT_EQ(timerCalls, (std::vector<std::string>{"SetTimer 1 1 2000 1", "KillTimer 1 1"}));
    EXPECT_EQ(MainDialogProc(mainDialog, WM_APP + 3, 0, 0), FALSE);
}

TEST(ProgressTimer, AddsTwoPerTickWithoutCapping) {
    ScopedWin32Fakes fakes;
    fake_dialog::ScopedUiState uiState;
    fake_dialog::Install();
    progressValue = 98;
    ProgressTimerProc(mainDialog, WM_TIMER, PROGRESS_TIMER_ID, 0);
    ProgressTimerProc(mainDialog, WM_TIMER, PROGRESS_TIMER_ID, 0);
    EXPECT_EQ(progressValue, 102);
    ASSERT_FALSE(dialog.otherMessages.empty());
    EXPECT_EQ(dialog.otherMessages.back().message, static_cast<UINT>(PBM_SETPOS));
    EXPECT_EQ(dialog.otherMessages.back().wParam, 102u);
    progressValue = 0;
}

int launchedThreads = 0;
HANDLE WINAPI CountingCreateThread(LPSECURITY_ATTRIBUTES,
                                   SIZE_T,
                                   LPTHREAD_START_ROUTINE,
                                   LPVOID,
                                   DWORD,
                                   LPDWORD) {
    ++launchedThreads;
    return ::CreateEventW(nullptr, FALSE, FALSE, nullptr);  // a handle to close, not a thread
}

TEST(UninstallCommandGuard, PressWhileACommandRunsLaunchesNothing) {
    ScopedWin32Fakes fakes;
    win32.CreateThread = CountingCreateThread;
    launchedThreads = 0;
    commandRunning = false;

    LaunchUninstallCommand();
    LaunchUninstallCommand();  // queued before the worker disabled the button
    EXPECT_EQ(launchedThreads, 1);
    EXPECT_TRUE(commandRunning);

    commandRunning = false;  // what the worker does once the list is rebuilt
    LaunchUninstallCommand();
    EXPECT_EQ(launchedThreads, 2);
    commandRunning = false;
}

HANDLE WINAPI
FailingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST(UninstallCommandGuard, ThreadThatCannotStartLeavesTheNextPressFree) {
    ScopedWin32Fakes fakes;
    win32.CreateThread = FailingCreateThread;
    commandRunning = false;
    LaunchUninstallCommand();
    EXPECT_FALSE(commandRunning);
}

}  // namespace
