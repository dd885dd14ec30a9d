#include "fakes/fake_machine.h"

#include "support/test_support.h"

namespace {

FakeMachineState machine;

// Records the call; true when it is to fail (the last error is then set).
bool Record(const std::string& name, const std::string& argument = {}) {
    machine.calls.push_back(name + "(" + argument + ")");
    const int number = ++machine.counts[name];
    const auto failure = machine.failures.find(name);
    if (failure == machine.failures.end() || number < failure->second.first)
        return false;
    ::SetLastError(failure->second.second);
    return true;
}

SC_HANDLE FakeServiceHandle() {
    return reinterpret_cast<SC_HANDLE>(0x5C);
}

SC_HANDLE WINAPI FakeOpenSCManager(LPCWSTR, LPCWSTR, DWORD) {
    return Record("OpenSCManager") ? nullptr : FakeServiceHandle();
}

SC_HANDLE WINAPI FakeOpenService(SC_HANDLE, LPCWSTR name, DWORD) {
    return Record("OpenService", Utf8(name)) ? nullptr : FakeServiceHandle();
}

BOOL WINAPI FakeQueryServiceStatus(SC_HANDLE, LPSERVICE_STATUS status) {
    if (Record("QueryServiceStatus"))
        return FALSE;
    *status = SERVICE_STATUS{};
    status->dwCurrentState = machine.spoolerState;
    return TRUE;
}

BOOL WINAPI FakeControlService(SC_HANDLE, DWORD control, LPSERVICE_STATUS status) {
    if (Record("ControlService", std::to_string(control)))
        return FALSE;
    if (control == SERVICE_CONTROL_STOP)
        machine.spoolerState = SERVICE_STOPPED;
    if (status) {
        *status = SERVICE_STATUS{};
        status->dwCurrentState = machine.spoolerState;
    }
    return TRUE;
}

BOOL WINAPI FakeStartService(SC_HANDLE, DWORD, LPCWSTR*) {
    if (Record("StartService"))
        return FALSE;
    machine.spoolerState = SERVICE_RUNNING;
    return TRUE;
}

BOOL WINAPI FakeCloseServiceHandle(SC_HANDLE) {
    Record("CloseServiceHandle");
    return TRUE;
}

// A printer handle is an index into this list of opened names, plus one.
std::vector<std::wstring> openedPrinters;

BOOL WINAPI FakeOpenPrinter(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW) {
    if (Record("OpenPrinter", Utf8(name)))
        return FALSE;
    if (!machine.printers.count(name)) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    openedPrinters.push_back(name);
    *handle = reinterpret_cast<HANDLE>(openedPrinters.size());
    return TRUE;
}

const std::wstring& PrinterOf(HANDLE handle) {
    return openedPrinters.at(reinterpret_cast<size_t>(handle) - 1);
}

BOOL WINAPI FakeClosePrinter(HANDLE) {
    Record("ClosePrinter");
    return TRUE;
}

BOOL WINAPI FakeEnumJobs(HANDLE printer,
                         DWORD,
                         DWORD,
                         DWORD level,
                         LPBYTE buffer,
                         DWORD size,
                         LPDWORD needed,
                         LPDWORD returned) {
    if (Record("EnumJobs"))
        return FALSE;
    const std::vector<DWORD>& jobs = machine.jobs[PrinterOf(printer)];
    const DWORD bytes = static_cast<DWORD>(jobs.size() * sizeof(JOB_INFO_2W));
    *needed = bytes;
    *returned = 0;
    if (jobs.empty())
        return TRUE;
    if (level != 2 || size < bytes || buffer == nullptr) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* info = reinterpret_cast<JOB_INFO_2W*>(buffer);
    for (size_t i = 0; i < jobs.size(); ++i)
        info[i].JobId = jobs[i];
    *returned = static_cast<DWORD>(jobs.size());
    return TRUE;
}

BOOL WINAPI FakeSetJob(HANDLE printer, DWORD jobId, DWORD, LPBYTE, DWORD command) {
    if (Record("SetJob", std::to_string(jobId)))
        return FALSE;
    std::vector<DWORD>& jobs = machine.jobs[PrinterOf(printer)];
    if (command == JOB_CONTROL_DELETE)
        std::erase(jobs, jobId);
    return TRUE;
}

BOOL WINAPI FakeDeletePrinter(HANDLE printer) {
    if (Record("DeletePrinter", Utf8(PrinterOf(printer))))
        return FALSE;
    machine.printers.erase(PrinterOf(printer));
    return TRUE;
}

BOOL WINAPI
FakeDeletePrinterDriverEx(LPWSTR, LPWSTR environment, LPWSTR name, DWORD flags, DWORD version) {
    return !Record("DeletePrinterDriverEx",
                   Utf8(std::wstring(environment) + L"," + name + L"," + std::to_wstring(flags) +
                        L"," + std::to_wstring(version)));
}

BOOL WINAPI FakeSetupUninstallOEMInf(PCWSTR name, DWORD flags, PVOID) {
    return !Record("SetupUninstallOEMInf", Utf8(name) + "," + std::to_string(flags));
}

CONFIGRET WINAPI FakeLocateDevNode(PDEVINST node, DEVINSTID_W, ULONG) {
    Record("CM_Locate_DevNode");
    *node = 1;
    return machine.locateResult;
}

CONFIGRET WINAPI FakeReenumerateDevNode(DEVINST, ULONG flags) {
    Record("CM_Reenumerate_DevNode", std::to_string(flags));
    return CR_SUCCESS;
}

void WINAPI FakeSleep(DWORD milliseconds) {
    Record("Sleep", std::to_string(milliseconds));
}

HINSTANCE WINAPI FakeShellExecute(HWND, LPCWSTR, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT) {
    Record("ShellExecute", Utf8(std::wstring(file) + L" " + parameters));
    return reinterpret_cast<HINSTANCE>(42);
}

BOOL WINAPI RecordingDeleteFile(LPCWSTR path) {
    if (Record("DeleteFile", Utf8(path)))
        return FALSE;
    return ::DeleteFileW(path);
}

BOOL WINAPI RecordingRemoveDirectory(LPCWSTR path) {
    if (Record("RemoveDirectory", Utf8(path)))
        return FALSE;
    return ::RemoveDirectoryW(path);
}

BOOL WINAPI FakeSpecialFolder(HWND owner, LPWSTR path, int folder, BOOL create) {
    std::wstring answer;
    if (folder == CSIDL_WINDOWS) {
        answer = machine.windowsFolder.substr(0, machine.windowsFolder.size() - 1);
    } else if (folder == CSIDL_SYSTEM) {
        answer = machine.windowsFolder + L"System32";
    } else {
        return ::SHGetSpecialFolderPathW(owner, path, folder, create);
    }
    wcsncpy(path, answer.c_str(), MAX_PATH - 1);
    path[MAX_PATH - 1] = L'\0';
    return TRUE;
}

struct NativeMachineAnswer {
    USHORT machine = 0;
    bool wow64 = false;
} nativeAnswer;

BOOL WINAPI FakeIsWow64Process2(HANDLE, USHORT* processMachine, USHORT* nativeMachine) {
    *processMachine = nativeAnswer.wow64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    *nativeMachine = nativeAnswer.machine;
    return TRUE;
}

BOOL WINAPI FakeIsWow64Process(HANDLE, BOOL* wow64) {
    *wow64 = nativeAnswer.wow64;
    return TRUE;
}

void WINAPI FakeGetNativeSystemInfo(SYSTEM_INFO* info) {
    *info = SYSTEM_INFO{};
    switch (nativeAnswer.machine) {
        case IMAGE_FILE_MACHINE_AMD64:
            info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
            break;
        case 0xAA64:  // IMAGE_FILE_MACHINE_ARM64
            info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
            break;
        case IMAGE_FILE_MACHINE_I386:
            info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
            break;
        default:
            info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
    }
}

}  // namespace

void FakeNativeMachine(USHORT nativeMachine, bool wow64, bool withIsWow64Process2) {
    nativeAnswer = {nativeMachine, wow64};
    win32.IsWow64Process2 = withIsWow64Process2 ? FakeIsWow64Process2 : nullptr;
    win32.IsWow64Process = FakeIsWow64Process;
    win32.GetNativeSystemInfo = FakeGetNativeSystemInfo;
}

FakeMachineState& InstallFakeMachine(const std::wstring& windowsFolder) {
    machine = FakeMachineState{};
    machine.windowsFolder = windowsFolder;
    openedPrinters.clear();
    win32.OpenSCManagerW = FakeOpenSCManager;
    win32.OpenServiceW = FakeOpenService;
    win32.QueryServiceStatus = FakeQueryServiceStatus;
    win32.ControlService = FakeControlService;
    win32.StartServiceW = FakeStartService;
    win32.CloseServiceHandle = FakeCloseServiceHandle;
    win32.OpenPrinterW = FakeOpenPrinter;
    win32.ClosePrinter = FakeClosePrinter;
    win32.EnumJobsW = FakeEnumJobs;
    win32.SetJobW = FakeSetJob;
    win32.DeletePrinter = FakeDeletePrinter;
    win32.DeletePrinterDriverExW = FakeDeletePrinterDriverEx;
    win32.SetupUninstallOEMInfW = FakeSetupUninstallOEMInf;
    win32.CM_Locate_DevNodeW = FakeLocateDevNode;
    win32.CM_Reenumerate_DevNode = FakeReenumerateDevNode;
    win32.Sleep = FakeSleep;
    win32.ShellExecuteW = FakeShellExecute;
    win32.DeleteFileW = RecordingDeleteFile;
    win32.RemoveDirectoryW = RecordingRemoveDirectory;
    win32.SHGetSpecialFolderPathW = FakeSpecialFolder;
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, false);
    return machine;
}

void FailCalls(const std::string& name, int fromCall, DWORD error) {
    machine.failures[name] = {fromCall, error};
}

std::string CallName(const std::string& call) {
    return call.substr(0, call.find('('));
}

std::vector<std::string> CallsNamed(const std::set<std::string>& names) {
    std::vector<std::string> result;
    for (const std::string& call : machine.calls) {
        if (names.count(CallName(call)))
            result.push_back(call);
    }
    return result;
}
