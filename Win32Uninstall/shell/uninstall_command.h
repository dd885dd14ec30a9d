// The uninstall command that a left button-down on "卸载" sets going: a worker
// thread that runs the removal of the selected row while a timer moves the
// progress bar, reports the result, offers a reboot, and rebuilds the list.
#pragma once

#include <atomic>

#include <windows.h>

// The reminder shown when no row is selected (no owner, no caption).
constexpr wchar_t SELECT_A_DRIVER_TEXT[] = L"请选择当前需要卸载的打印机驱动程序！";
// The question after a successful removal (MB_YESNO; Yes reboots).
constexpr wchar_t UNINSTALL_SUCCEEDED_TEXT[] = L"驱动卸载成功，立即重启电脑！";
// The message after a failed removal (MB_OK).
constexpr wchar_t UNINSTALL_FAILED_TEXT[] =
    L"驱动卸载失败！\r\n请检查是否有其他应用程序正在使用打印机！请重启电脑后再次卸载驱动！";

// Timer 1 of mainDialog moves the bar by PROGRESS_STEP every PROGRESS_PERIOD_MS.
constexpr UINT_PTR PROGRESS_TIMER_ID = 1;
constexpr UINT PROGRESS_PERIOD_MS = 2000;
constexpr int PROGRESS_STEP = 2;

// A window timer can only be set and killed by the thread that owns the
// window, so the worker sends these to mainDialog and the GUI thread starts or
// stops timer 1 (see HandleProgressTimerMessage).
constexpr UINT WM_START_PROGRESS_TIMER = WM_APP + 1;
constexpr UINT WM_STOP_PROGRESS_TIMER = WM_APP + 2;

// The position last given to the progress bar. Written by the worker and by
// ProgressTimerProc on the GUI thread; not capped (the bar clamps it to 100).
extern std::atomic<int> progressValue;

// True from the press that launches a command until that command's worker has
// rebuilt the list. Only one command runs at a time: the button is disabled
// by the worker itself, so a press queued before that, or made during the
// rebuild, must not start a second worker on the unlocked driver tables.
extern std::atomic<bool> commandRunning;

// Called by the message loop for a left button-down on the uninstall button:
// launches UninstallWorker at THREAD_PRIORITY_HIGHEST unless a command is
// running, in which case the press launches nothing.
void LaunchUninstallCommand();

// Thread function of one command. Disables the button, shows 2 on the bar,
// starts timer 1, runs RunUninstallCommand, rebuilds the driver list and ends
// the command. Ignores its parameter; returns 0.
DWORD WINAPI UninstallWorker(LPVOID parameter);

// Takes the selected row (reminder box when there is none), plans its removal
// (PlanRemoval: a driver that another row names stays; a driver that printers
// use is refused, which logs DriverInUseText, changes nothing and touches no
// service), runs the plan, stops the timer and reports: on success the bar shows 100 and
// the user is asked whether to reboot now (Yes calls RebootComputer); on
// failure the bar shows 0 under the failure message. Leaves the bar at 0 and
// the button enabled.
void RunUninstallCommand();

// Called by the main dialog's procedure on the GUI thread: starts timer 1 of
// `dialog` (PROGRESS_PERIOD_MS, ProgressTimerProc) for WM_START_PROGRESS_TIMER
// and kills it for WM_STOP_PROGRESS_TIMER. False for any other message.
bool HandleProgressTimerMessage(HWND dialog, UINT message);

// Timer procedure of timer 1 (GUI thread): adds PROGRESS_STEP to progressValue
// and shows it on the bar.
void CALLBACK ProgressTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD tickCount);

// Enables the shutdown privilege of the process on an NT-family Windows and
// asks Windows to reboot. Returns at once; always reports success.
BOOL RebootComputer();
