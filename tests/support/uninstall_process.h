// Uninstall.exe started from the test folder and driven from outside, as the
// user would: its windows found by class, title and owner, input posted to
// them. Every wait has a limit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

constexpr DWORD GUI_WAIT_LIMIT_MS = 60000;

class UninstallProcess {
  public:
    UninstallProcess() = default;
    // Ends the process if it is still running.
    ~UninstallProcess();
    UninstallProcess(const UninstallProcess&) = delete;
    UninstallProcess& operator=(const UninstallProcess&) = delete;

    // Starts Uninstall.exe from the test's own folder, or `program`; false if
    // it cannot.
    bool Start();
    bool Start(const std::wstring& program);
    // Takes on the running process that owns `window` instead of starting one.
    bool Attach(HWND window);
    bool IsRunning() const;
    // A 32-bit process under WOW64.
    bool IsWow64() const;
    // The main dialog (title "岚拓打印机驱动卸载程序", with the driver list) once it
    // is visible; null at the limit.
    HWND WaitForDialog() const;
    // A visible message box of the process owned by `owner` (any owner, none
    // included, when `owner` is null); null at the limit.
    HWND WaitForMessageBox(HWND owner) const;
    // A visible message box of the process owned by `owner`, or null now.
    HWND FindMessageBox(HWND owner) const;
    // True when the process ended within the limit; `exitCode` gets its code.
    bool WaitForExit(DWORD& exitCode) const;

  private:
    std::vector<HWND> Windows() const;
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Polls `condition` every 20 ms up to `limitMs`; its last answer.
bool WaitUntil(const std::function<bool()>& condition, DWORD limitMs = GUI_WAIT_LIMIT_MS);

std::wstring WindowText(HWND window);
// The text of a message box (its static control 65535).
std::wstring MessageBoxText(HWND box);
// Clicks a message box button by posting its notification.
void PressMessageBoxButton(HWND box, int buttonId);
// The items of a list box of another process.
std::vector<std::wstring> ListItems(HWND list);
// Posts a left button-down and button-up over the middle of `control`.
void PostClick(HWND control, bool withButtonUp);
// Waits until the owning thread has handled everything posted to `list`
// before this call, by posting a marker into the same queue.
bool WaitForPostedMessagesHandled(HWND list);

// The state of the "Spooler" service, which every removal stops and starts:
// brought back to stopped or running, whichever it was, on destruction.
class SavedSpoolerState {
  public:
    SavedSpoolerState();
    ~SavedSpoolerState();
    SavedSpoolerState(const SavedSpoolerState&) = delete;
    SavedSpoolerState& operator=(const SavedSpoolerState&) = delete;
    // SERVICE_RUNNING, SERVICE_STOPPED, ...; 0 when it cannot be asked.
    DWORD State() const;

  private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    bool wasRunning_ = false;
};
