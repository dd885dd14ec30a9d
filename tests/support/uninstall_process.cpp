#include "support/uninstall_process.h"

#include <atomic>

#include "support/test_support.h"

namespace {

const wchar_t kTitle[] = L"岚拓打印机驱动卸载程序";
constexpr int kDriverListId = 1000;

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId)
        search->found.push_back(window);
    return TRUE;
}

bool IsDialogClass(HWND window) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    return std::wstring(name) == L"#32770";
}

LRESULT SendWithLimit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result)) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

}  // namespace

bool UninstallProcess::Start() {
    return Start(ExecutableFolder() + L"Uninstall.exe");
}

bool UninstallProcess::Attach(HWND window) {
    ::GetWindowThreadProcessId(window, &id_);
    process_ =
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, id_);
    return process_ != nullptr;
}

bool UninstallProcess::Start(const std::wstring& program) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         ExecutableFolder().c_str(), &startup, &info)) {
        ::CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
    }
    return process_ != nullptr;
}

UninstallProcess::~UninstallProcess() {
    if (process_ == nullptr)
        return;
    if (IsRunning()) {
        ::TerminateProcess(process_, 1);
        ::WaitForSingleObject(process_, GUI_WAIT_LIMIT_MS);
    }
    ::CloseHandle(process_);
}

bool UninstallProcess::IsRunning() const {
    return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool UninstallProcess::IsWow64() const {
    BOOL wow64 = FALSE;
    return process_ != nullptr && ::IsWow64Process(process_, &wow64) && wow64;
}

std::vector<HWND> UninstallProcess::Windows() const {
    Search search{id_, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND UninstallProcess::WaitForDialog() const {
    HWND dialog = nullptr;
    WaitUntil([&] {
        for (HWND window : Windows()) {
            if (IsDialogClass(window) && WindowText(window) == kTitle &&
                ::GetDlgItem(window, kDriverListId) != nullptr && ::IsWindowVisible(window)) {
                dialog = window;
                return true;
            }
        }
        return false;
    });
    return dialog;
}

HWND UninstallProcess::FindMessageBox(HWND owner) const {
    for (HWND window : Windows()) {
        if (!IsDialogClass(window) || !::IsWindowVisible(window))
            continue;
        if (::GetDlgItem(window, kDriverListId) != nullptr)
            continue;  // the main dialog
        if (owner == nullptr || ::GetWindow(window, GW_OWNER) == owner)
            return window;
    }
    return nullptr;
}

HWND UninstallProcess::WaitForMessageBox(HWND owner) const {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox(owner)) != nullptr; });
    return box;
}

bool UninstallProcess::WaitForExit(DWORD& exitCode) const {
    if (process_ == nullptr ||
        ::WaitForSingleObject(process_, GUI_WAIT_LIMIT_MS) != WAIT_OBJECT_0) {
        return false;
    }
    return ::GetExitCodeProcess(process_, &exitCode) != FALSE;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD limitMs) {
    for (DWORD waited = 0; waited < limitMs; waited += 20) {
        if (condition())
            return true;
        ::Sleep(20);
    }
    return condition();
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

std::wstring MessageBoxText(HWND box) {
    return WindowText(::GetDlgItem(box, 0xFFFF));
}

void PressMessageBoxButton(HWND box, int buttonId) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, buttonId)));
}

std::vector<std::wstring> ListItems(HWND list) {
    // The program may refill the list between two messages, so an item's
    // text can be longer than the length asked for just before: LB_GETTEXT
    // always gets room for the longest name the spooler allows, many times over.
    constexpr LRESULT kRoom = 4096;
    std::vector<std::wstring> items;
    const LRESULT count = SendWithLimit(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendWithLimit(list, LB_GETTEXTLEN, i, 0);
        if (length < 0 || length >= kRoom)
            continue;  // gone already, or not a name
        std::wstring text(static_cast<size_t>(kRoom), L'\0');
        SendWithLimit(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        text.resize(wcsnlen(text.c_str(), text.size()));
        items.push_back(text);
    }
    return items;
}

void PostClick(HWND control, bool withButtonUp) {
    RECT area{};
    ::GetClientRect(control, &area);
    const LPARAM middle = MAKELPARAM(area.right / 2, area.bottom / 2);
    ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    if (withButtonUp)
        ::PostMessageW(control, WM_LBUTTONUP, 0, middle);
}

bool WaitForPostedMessagesHandled(HWND list) {
    // Item data of item 0 is free for the taking: the program does not use it.
    static std::atomic<LPARAM> marker{0x4B560000};
    const LPARAM value = ++marker;
    if (!::PostMessageW(list, LB_SETITEMDATA, 0, value))
        return false;
    return WaitUntil([&] { return SendWithLimit(list, LB_GETITEMDATA, 0, 0) == value; });
}

SavedSpoolerState::SavedSpoolerState() {
    manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager_ != nullptr)
        service_ = ::OpenServiceW(manager_, L"Spooler", SERVICE_ALL_ACCESS);
    wasRunning_ = State() == SERVICE_RUNNING;
}

SavedSpoolerState::~SavedSpoolerState() {
    if (service_ != nullptr) {
        SERVICE_STATUS status{};
        if (wasRunning_ && State() == SERVICE_STOPPED) {
            ::StartServiceW(service_, 0, nullptr);
        } else if (!wasRunning_ && State() != SERVICE_STOPPED) {
            ::ControlService(service_, SERVICE_CONTROL_STOP, &status);
        }
        WaitUntil([&] { return (State() == SERVICE_RUNNING) == wasRunning_; }, 10000);
        ::CloseServiceHandle(service_);
    }
    if (manager_ != nullptr)
        ::CloseServiceHandle(manager_);
}

DWORD SavedSpoolerState::State() const {
    SERVICE_STATUS status{};
    return service_ && ::QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
}
