#include "shell/main_dialog.h"

#include <commctrl.h>

#include "engine/service_control.h"
#include "platform/unique_handles.h"
#include "platform/win32_api.h"
#include "shell/driver_list.h"
#include "shell/threads.h"
#include "shell/ui_state.h"
#include "shell/uninstall_command.h"

namespace {

// PBM_SETRANGE's lParam for 0..100: low word the minimum, high word the maximum.
constexpr LPARAM PROGRESS_RANGE = MAKELPARAM(0, 100);

// The dialog's progress bar is of the common controls' class
// "msctls_progress32", which must be registered before the dialog is created.
void RegisterProgressBarClass() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    win32.InitCommonControlsEx(&controls);
}

void WriteToStandardOutput(const char* text, DWORD length) {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    win32.WriteFile(output, text, length, &written, nullptr);
}

unique_service OpenLocalServiceManager() {
    return unique_service(
        win32.OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, GENERIC_EXECUTE));
}

// The thread that stops PcaSvc at start-up. Written by the GUI thread before
// ServiceRestoreThread is launched; only that thread uses and closes it then.
unique_handle pcaSvcStopThread;
// The thread that starts PcaSvc again; only the GUI thread uses it.
unique_handle pcaSvcRestoreThread;

// Sets up the controls and the list and shows the dialog with its warning.
void PrepareDialog() {
    listBox = win32.GetDlgItem(mainDialog, IDC_DRIVER_LIST);
    uninstallButton = win32.GetDlgItem(mainDialog, IDC_UNINSTALL_BUTTON);
    progressBar = win32.GetDlgItem(mainDialog, IDC_PROGRESS_BAR);
    win32.SendMessageW(progressBar, PBM_SETRANGE, 0, PROGRESS_RANGE);
    // Filled while still hidden, so the dialog first appears with its list complete.
    FillDriverList();
    win32.ShowWindow(mainDialog, SW_SHOW);
    win32.MessageBoxW(mainDialog, OPENING_WARNING_TEXT, OPENING_WARNING_CAPTION, MB_OK);
}

}  // namespace

void LaunchPcaSvcStop() {
    pcaSvcStopThread = StartThread(ServiceStopThread, THREAD_PRIORITY_NORMAL);
}

DWORD WINAPI ServiceStopThread(LPVOID) {
    unique_service manager = OpenLocalServiceManager();
    if (manager)
        StopPcaSvc(std::move(manager));
    return 0;
}

DWORD WINAPI ServiceRestoreThread(LPVOID) {
    if (pcaSvcStopThread) {
        win32.WaitForSingleObject(pcaSvcStopThread.get(), PCASVC_STOP_THREAD_WAIT_MS);
        pcaSvcStopThread.reset();
    }
    unique_service manager = OpenLocalServiceManager();
    if (manager)
        StartPcaSvc(std::move(manager));
    return 0;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case WM_CLOSE:
            ::DestroyWindow(dialog);
            return TRUE;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return TRUE;
        default:
            return HandleProgressTimerMessage(dialog, message) ? TRUE : FALSE;
    }
}

namespace {

// Pumps the dialog's messages until the program is to end (see RunMessageLoop).
int PumpMessages() {
    MSG msg{};
    for (;;) {
        // Only the dialog's and its controls' messages. No IsDialogMessageW:
        // the keyboard must neither launch an uninstall nor end the program.
        const BOOL result = win32.GetMessageW(&msg, mainDialog, 0, 0);
        if (result == 0)
            return 0;
        if (result == -1)
            return -1;
        if (msg.message == WM_LBUTTONDOWN) {
            const int id = win32.GetDlgCtrlID(msg.hwnd);
            if (id == IDC_UNINSTALL_BUTTON) {
                LaunchUninstallCommand();
            } else if (id == IDC_CANCEL_BUTTON) {
                return 0;
            }
        }
        if (msg.message == WM_CLOSE || msg.message == WM_DESTROY)
            return 0;
        win32.TranslateMessage(&msg);
        win32.DispatchMessageW(&msg);
    }
}

void WaitForPcaSvcRestore() {
    if (!pcaSvcRestoreThread)
        return;
    win32.WaitForSingleObject(pcaSvcRestoreThread.get(), PCASVC_RESTORE_END_WAIT_MS);
    pcaSvcRestoreThread.reset();
}

}  // namespace

int RunMessageLoop() {
    PrepareDialog();
    pcaSvcRestoreThread = StartThread(ServiceRestoreThread, THREAD_PRIORITY_NORMAL);
    const int result = PumpMessages();
    WaitForPcaSvcRestore();
    return result;
}

int RunUninstaller(HINSTANCE module) {
    LaunchPcaSvcStop();
    RegisterProgressBarClass();
    mainDialog =
        ::CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, MainDialogProc, 0);
    if (mainDialog == nullptr) {
        WriteToStandardOutput(DIALOG_CREATION_FAILED_TEXT, sizeof DIALOG_CREATION_FAILED_TEXT - 1);
        pcaSvcStopThread.reset();  // no restore thread will wait for it
        return 0;
    }
    RunMessageLoop();
    StartSpoolerIfLeftStopped();
    return 0;
}
