// The uninstaller's GUI thread: start-up, the main dialog and its hand-written
// message loop, and the two short-lived threads that stop and restart the
// program compatibility service around the opening warning.
#pragma once

#include <windows.h>

// The text of the opening warning and of its caption.
constexpr wchar_t OPENING_WARNING_TEXT[] =
    L"卸载驱动前请确认已关闭打印机设备，并退出所有应用程序！";
constexpr wchar_t OPENING_WARNING_CAPTION[] = L"岚拓打印机驱动卸载程序";
// Written to standard output when the main dialog cannot be created.
constexpr char DIALOG_CREATION_FAILED_TEXT[] = "Failed to create dialog/n";

// The whole run of the program after the progress-bar class is registered:
// launches ServiceStopThread, creates the main dialog hidden from template
// IDD_MAIN_DIALOG of `module`, and runs the message loop. When the dialog
// cannot be created it writes DIALOG_CREATION_FAILED_TEXT to standard output
// and returns without a loop. When the loop ends while an uninstall run has
// the spooler stopped ("取消" or the dialog closed during a run), the spooler
// is started again, within the service wait limit, before returning; the
// process then ends without waiting for the run. Returns 0 on every path.
int RunUninstaller(HINSTANCE module);

// Looks up the controls, sets the progress range 0..100, fills the driver
// list, shows the dialog and the opening warning, launches
// ServiceRestoreThread once the warning is dismissed, then pumps the
// messages of mainDialog and its controls until the program is to end:
// - a left button-down on the uninstall button launches the uninstall command
//   (LaunchUninstallCommand: nothing while one runs) and is still dispatched
//   (the button draws itself pressed);
// - a left button-down on the cancel button ends the loop, undispatched;
// - WM_CLOSE or WM_DESTROY ends the loop.
// There is no dialog keyboard handling: Enter, Esc, Tab and Space launch
// nothing and end nothing. Before it returns, it waits for
// ServiceRestoreThread, at most PCASVC_RESTORE_END_WAIT_MS, and closes its
// handle. Returns 0, or -1 when GetMessageW fails.
int RunMessageLoop();

// The restore thread is in its last calls to the service control manager
// when PcaSvc has just started, which is when a person who waited for it
// presses "取消". A process that ends while another thread is inside such a
// call can hang for good under Wine: its exit kills that thread, and the
// locks it held (the heap's among them) are never freed for the exit's own
// clean-up. Those last calls take milliseconds; a start still pending after
// the bound is left to the service control manager.
constexpr DWORD PCASVC_RESTORE_END_WAIT_MS = 2000;

// Dialog procedure of the main dialog: WM_CLOSE destroys the dialog, WM_DESTROY
// posts the quit message, and the uninstall worker's requests to start or stop
// the progress timer are served here, on the thread that owns the dialog;
// everything else, WM_COMMAND included, is left to the dialog manager.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Thread functions; each ignores its parameter and returns 0. They open the
// local service control manager with GENERIC_EXECUTE and hand it to
// StopPcaSvc or StartPcaSvc; when it cannot be opened they end silently.
// ServiceRestoreThread first waits, at most PCASVC_STOP_THREAD_WAIT_MS, for
// the thread that LaunchPcaSvcStop started, and closes its handle: a warning
// dismissed while PcaSvc is still being stopped must not see the start come
// first and the stop after it, which would leave PcaSvc stopped.
DWORD WINAPI ServiceStopThread(LPVOID parameter);
DWORD WINAPI ServiceRestoreThread(LPVOID parameter);

// The stop thread's own waits end within the service wait limit; the rest of
// the bound covers its calls to the service control manager.
constexpr DWORD PCASVC_STOP_THREAD_WAIT_MS = 65000;

// Launches ServiceStopThread at normal priority and keeps its handle for
// ServiceRestoreThread. Without a thread, the restore thread waits for nothing.
void LaunchPcaSvcStop();
