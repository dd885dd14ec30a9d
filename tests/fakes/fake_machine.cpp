#include "fakes/fake_machine.h"

#include <gtest/gtest.h>
#include <sddl.h>

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
    status->dwWin32ExitCode = machine.spoolerExitCode;
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
    const bool crashes = machine.spoolerCrashes && machine.spoolerCrashes();
    machine.spoolerState = crashes ? SERVICE_STOPPED : machine.spoolerStateAfterStart;
    machine.spoolerExitCode = crashes ? ERROR_PROCESS_ABORTED : 0;
    return TRUE;
}

BOOL WINAPI FakeEnumDependentServices(SC_HANDLE,
                                      DWORD,
                                      LPENUM_SERVICE_STATUSW,
                                      DWORD,
                                      LPDWORD needed,
                                      LPDWORD count) {
    if (Record("EnumDependentServices"))
        return FALSE;
    *needed = 0;
    *count = 0;
    return TRUE;  // the spooler has no running dependents here
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

BOOL WINAPI FakeDeleteMonitor(LPWSTR, LPWSTR, LPWSTR name) {
    return !Record("DeleteMonitor", Utf8(name));
}

BOOL WINAPI FakeDeletePrintProcessor(LPWSTR, LPWSTR environment, LPWSTR name) {
    return !Record("DeletePrintProcessor", Utf8(std::wstring(environment) + L"," + name));
}

BOOL WINAPI FakeEnumPrinterDrivers(LPWSTR,
                                   LPWSTR environment,
                                   DWORD,
                                   LPBYTE buffer,
                                   DWORD size,
                                   LPDWORD needed,
                                   LPDWORD returned) {
    *returned = 0;
    if (Record("EnumPrinterDrivers", Utf8(environment ? environment : L"(null)")))
        return FALSE;
    *needed = static_cast<DWORD>(machine.drivers.size() * sizeof(DRIVER_INFO_6W));
    if (machine.drivers.empty())
        return TRUE;
    if (buffer == nullptr || size < *needed) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* blocks = reinterpret_cast<DRIVER_INFO_6W*>(buffer);
    for (size_t i = 0; i < machine.drivers.size(); ++i)
        blocks[i] = *machine.drivers[i];
    *returned = static_cast<DWORD>(machine.drivers.size());
    return TRUE;
}

// The error DeleteFileW gives for a file held open, or 0.
DWORD InUseError(const std::wstring& path) {
    const auto held = machine.filesInUse.find(path);
    return held == machine.filesInUse.end() ? 0 : held->second;
}

BOOL WINAPI FakeSetupUninstallOEMInf(PCWSTR name, DWORD flags, PVOID) {
    if (Record("SetupUninstallOEMInf", Utf8(name) + "," + std::to_string(flags)))
        return FALSE;
    const std::wstring inf = machine.windowsFolder + L"inf\\" + name;
    if (const DWORD error = InUseError(inf)) {
        ::SetLastError(error);
        return FALSE;
    }
    ::DeleteFileW(inf.c_str());  // the copy goes, as Windows removes it
    return TRUE;
}

BOOL WINAPI FakeMoveFileEx(LPCWSTR path, LPCWSTR target, DWORD flags) {
    EXPECT_EQ(target, nullptr);
    EXPECT_EQ(flags, DWORD{MOVEFILE_DELAY_UNTIL_REBOOT});
    return !Record("MoveFileEx", Utf8(path));
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

// Device info sets are this value; a device is its index in
// machine.devices, plus one, as DevInst; a driver key is kDriverKeys plus
// that number.
const HDEVINFO kDeviceSet = reinterpret_cast<HDEVINFO>(static_cast<INT_PTR>(0xDE00));
constexpr INT_PTR kDriverKeys = 0xD0000;

FakeDevice* DeviceOf(PSP_DEVINFO_DATA data) {
    return data != nullptr && data->DevInst >= 1 && data->DevInst <= machine.devices.size()
               ? &machine.devices[data->DevInst - 1]
               : nullptr;
}

HDEVINFO WINAPI FakeGetClassDevs(const GUID*, PCWSTR, HWND, DWORD flags) {
    if (Record("SetupDiGetClassDevs", std::to_string(flags)))
        return INVALID_HANDLE_VALUE;
    ++machine.openDeviceSets;
    return kDeviceSet;
}

HDEVINFO WINAPI FakeCreateDeviceInfoList(const GUID*, HWND) {
    if (Record("SetupDiCreateDeviceInfoList"))
        return INVALID_HANDLE_VALUE;
    ++machine.openDeviceSets;
    return kDeviceSet;
}

BOOL WINAPI FakeDestroyDeviceInfoList(HDEVINFO set) {
    EXPECT_EQ(set, kDeviceSet);
    --machine.openDeviceSets;
    return TRUE;
}

BOOL WINAPI FakeEnumDeviceInfo(HDEVINFO, DWORD index, PSP_DEVINFO_DATA data) {
    for (size_t i = 0; i < machine.devices.size(); ++i) {
        if (machine.devices[i].removed || index-- > 0)
            continue;
        data->DevInst = static_cast<DWORD>(i + 1);
        return TRUE;
    }
    ::SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL WINAPI FakeOpenDeviceInfo(HDEVINFO, PCWSTR id, HWND, DWORD, PSP_DEVINFO_DATA data) {
    if (Record("SetupDiOpenDeviceInfo", Utf8(id)))
        return FALSE;
    for (size_t i = 0; i < machine.devices.size(); ++i) {
        if (!machine.devices[i].removed && machine.devices[i].instanceId == id) {
            data->DevInst = static_cast<DWORD>(i + 1);
            return TRUE;
        }
    }
    ::SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
}

// Copies `text` with its NUL into a buffer of `size` bytes or units.
BOOL CopyOut(const std::wstring& text, wchar_t* buffer, DWORD units, DWORD* neededUnits) {
    if (neededUnits != nullptr)
        *neededUnits = static_cast<DWORD>(text.size() + 1);
    if (buffer == nullptr || units < text.size() + 1) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(buffer, text.c_str());
    return TRUE;
}

BOOL WINAPI
FakeGetInstanceId(HDEVINFO, PSP_DEVINFO_DATA data, PWSTR id, DWORD size, PDWORD needed) {
    const FakeDevice* device = DeviceOf(data);
    return device != nullptr && CopyOut(device->instanceId, id, size, needed);
}

BOOL WINAPI FakeGetDeviceProperty(HDEVINFO,
                                  PSP_DEVINFO_DATA data,
                                  DWORD property,
                                  PDWORD type,
                                  PBYTE buffer,
                                  DWORD size,
                                  PDWORD needed) {
    const FakeDevice* device = DeviceOf(data);
    const std::wstring* text = device == nullptr              ? nullptr
                               : property == SPDRP_CLASS      ? &device->deviceClass
                               : property == SPDRP_DEVICEDESC ? &device->description
                                                              : nullptr;
    if (text == nullptr || text->empty()) {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (type != nullptr)
        *type = REG_SZ;
    DWORD units = 0;
    const BOOL copied =
        CopyOut(*text, reinterpret_cast<wchar_t*>(buffer), size / sizeof(wchar_t), &units);
    if (needed != nullptr)
        *needed = units * sizeof(wchar_t);
    return copied;
}

HKEY WINAPI FakeOpenDevRegKey(HDEVINFO, PSP_DEVINFO_DATA data, DWORD, DWORD, DWORD which, REGSAM) {
    const FakeDevice* device = DeviceOf(data);
    EXPECT_EQ(which, DWORD{DIREG_DRV});
    if (device == nullptr || device->infPath.empty()) {
        ::SetLastError(ERROR_KEY_DOES_NOT_EXIST);
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    return reinterpret_cast<HKEY>(kDriverKeys + static_cast<INT_PTR>(data->DevInst));
}

// The device a fake driver key belongs to, or null for any other key.
const FakeDevice* DeviceOfKey(HKEY key) {
    const INT_PTR number = reinterpret_cast<INT_PTR>(key) - kDriverKeys;
    return number >= 1 && static_cast<size_t>(number) <= machine.devices.size()
               ? &machine.devices[static_cast<size_t>(number) - 1]
               : nullptr;
}

decltype(win32.RegQueryValueExW) queryOtherValue = nullptr;
decltype(win32.RegCloseKey) closeOtherKey = nullptr;

LSTATUS WINAPI FakeRegQueryValue(HKEY key,
                                 LPCWSTR name,
                                 LPDWORD reserved,
                                 LPDWORD type,
                                 LPBYTE data,
                                 LPDWORD size) {
    const FakeDevice* device = DeviceOfKey(key);
    if (device == nullptr)
        return queryOtherValue(key, name, reserved, type, data, size);
    if (std::wstring(name) != L"InfPath")
        return ERROR_FILE_NOT_FOUND;
    DWORD units = 0;
    const BOOL copied =
        CopyOut(device->infPath, reinterpret_cast<wchar_t*>(data), *size / sizeof(wchar_t), &units);
    *size = units * sizeof(wchar_t);
    *type = REG_SZ;
    return copied ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LSTATUS WINAPI FakeRegCloseKey(HKEY key) {
    return DeviceOfKey(key) != nullptr ? ERROR_SUCCESS : closeOtherKey(key);
}

BOOL WINAPI FakeCallClassInstaller(DI_FUNCTION function, HDEVINFO, PSP_DEVINFO_DATA data) {
    FakeDevice* device = DeviceOf(data);
    EXPECT_EQ(function, DWORD{DIF_REMOVE});
    if (device == nullptr || Record("SetupDiCallClassInstaller", Utf8(device->instanceId)))
        return FALSE;
    device->removed = true;
    return TRUE;
}

BOOL WINAPI FakeGetInstallParams(HDEVINFO, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params) {
    const FakeDevice* device = DeviceOf(data);
    if (device == nullptr || params->cbSize != sizeof *params) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    params->Flags = device->flagsAfterRemoval;
    return TRUE;
}

void WINAPI FakeSleep(DWORD milliseconds) {
    Record("Sleep", std::to_string(milliseconds));
    if (machine.onSleep)
        machine.onSleep(milliseconds);
}

BOOL WINAPI RecordingDeleteFile(LPCWSTR path) {
    if (Record("DeleteFile", Utf8(path)))
        return FALSE;
    if (const DWORD error = InUseError(path)) {
        ::SetLastError(error);
        return FALSE;
    }
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

FakeSecurityState security;
decltype(win32.CloseHandle) closeOtherHandle = nullptr;
const HANDLE kToken = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7E00));
const wchar_t* const kPrivilegeNames[] = {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME, SE_BACKUP_NAME,
                                          SE_SECURITY_NAME, SE_SHUTDOWN_NAME};
constexpr DWORD kPrivilegeCount = sizeof kPrivilegeNames / sizeof kPrivilegeNames[0];

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text))
        return "none";
    const std::string result = Utf8(text);
    ::LocalFree(text);
    return result;
}

std::string PrivilegesText(const char* verb, const TOKEN_PRIVILEGES* privileges) {
    std::string text = verb;
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        const DWORD index = entry.Luid.LowPart - 1;
        text.append(" ").append(index < kPrivilegeCount ? Utf8(kPrivilegeNames[index]) : "?");
        text.append("=").append(std::to_string(entry.Attributes));
    }
    return text;
}

BOOL WINAPI FakeOpenProcessToken(HANDLE, DWORD, PHANDLE token) {
    ++security.openTokens;
    *token = kToken;
    return TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    if (handle != kToken)
        return closeOtherHandle(handle);
    --security.openTokens;
    return TRUE;
}

BOOL WINAPI FakeLookupPrivilege(LPCWSTR, LPCWSTR name, PLUID luid) {
    for (DWORD i = 0; i < kPrivilegeCount; ++i) {
        if (wcscmp(name, kPrivilegeNames[i]) == 0) {
            *luid = LUID{i + 1, 0};
            return TRUE;
        }
    }
    ::SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
}

// Every privilege was disabled before: the previous state holds the same
// privileges with attributes 0.
BOOL WINAPI FakeAdjustPrivileges(HANDLE token,
                                 BOOL,
                                 PTOKEN_PRIVILEGES wanted,
                                 DWORD size,
                                 PTOKEN_PRIVILEGES previous,
                                 PDWORD needed) {
    EXPECT_EQ(token, kToken);
    security.privilegeCalls.push_back(PrivilegesText(previous ? "enable" : "restore", wanted));
    if (previous != nullptr) {
        const DWORD bytes =
            static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                               wanted->PrivilegeCount * sizeof(LUID_AND_ATTRIBUTES));
        if (needed)
            *needed = bytes;
        if (size < bytes) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        previous->PrivilegeCount = wanted->PrivilegeCount;
        for (DWORD i = 0; i < wanted->PrivilegeCount; ++i)
            previous->Privileges[i] = {wanted->Privileges[i].Luid, 0};
    }
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HLOCAL Allocate() {
    ++security.liveAllocations;
    return ::LocalAlloc(LPTR, 64);
}

DWORD WINAPI FakeGetNamedSecurity(LPCWSTR,
                                  SE_OBJECT_TYPE,
                                  SECURITY_INFORMATION,
                                  PSID*,
                                  PSID*,
                                  PACL* dacl,
                                  PACL*,
                                  PSECURITY_DESCRIPTOR* descriptor) {
    *dacl = nullptr;
    *descriptor = Allocate();
    return ERROR_SUCCESS;
}

DWORD WINAPI FakeSetEntriesInAcl(ULONG count, PEXPLICIT_ACCESSW entries, PACL, PACL* result) {
    EXPECT_EQ(count, 1u);
    char access[16];
    snprintf(access, sizeof access, "%lx", entries->grfAccessPermissions);
    security.grants.push_back(SidText(reinterpret_cast<PSID>(entries->Trustee.ptstrName)) + " " +
                              access + " " + std::to_string(entries->grfInheritance) + " " +
                              std::to_string(entries->grfAccessMode));
    *result = static_cast<PACL>(Allocate());
    return ERROR_SUCCESS;
}

DWORD WINAPI FakeSetNamedSecurity(LPWSTR path,
                                  SE_OBJECT_TYPE type,
                                  SECURITY_INFORMATION what,
                                  PSID owner,
                                  PSID,
                                  PACL dacl,
                                  PACL) {
    EXPECT_EQ(type, SE_FILE_OBJECT);
    if (what == OWNER_SECURITY_INFORMATION) {
        security.owned.push_back(path);
        security.ownerSids.push_back(SidText(owner));
        return security.ownerError;
    }
    EXPECT_EQ(what, DWORD{DACL_SECURITY_INFORMATION});
    EXPECT_NE(dacl, nullptr);
    const std::string grant = security.grants.back();
    security.grants.back() = Utf8(path);
    security.grants.back().append(" ").append(grant);
    return ERROR_SUCCESS;
}

HLOCAL WINAPI FakeLocalFree(HLOCAL memory) {
    --security.liveAllocations;
    return ::LocalFree(memory);
}

}  // namespace

void FakeNativeMachine(USHORT nativeMachine, bool wow64, bool withIsWow64Process2) {
    nativeAnswer = {nativeMachine, wow64};
    win32.IsWow64Process2 = withIsWow64Process2 ? FakeIsWow64Process2 : nullptr;
    win32.IsWow64Process = FakeIsWow64Process;
    win32.GetNativeSystemInfo = FakeGetNativeSystemInfo;
}

FakeSecurityState& FakeSecurity() {
    return security;
}

FakeSecurityState& InstallFakeSecurity() {
    security = FakeSecurityState{};
    if (win32.CloseHandle != FakeCloseHandle)
        closeOtherHandle = win32.CloseHandle;
    win32.OpenProcessToken = FakeOpenProcessToken;
    win32.CloseHandle = FakeCloseHandle;
    win32.LookupPrivilegeValueW = FakeLookupPrivilege;
    win32.AdjustTokenPrivileges = FakeAdjustPrivileges;
    win32.CreateWellKnownSid = ::CreateWellKnownSid;
    win32.GetNamedSecurityInfoW = FakeGetNamedSecurity;
    win32.SetEntriesInAclW = FakeSetEntriesInAcl;
    win32.SetNamedSecurityInfoW = FakeSetNamedSecurity;
    win32.LocalFree = FakeLocalFree;
    return security;
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
    win32.EnumDependentServicesW = FakeEnumDependentServices;
    win32.OpenPrinterW = FakeOpenPrinter;
    win32.ClosePrinter = FakeClosePrinter;
    win32.EnumJobsW = FakeEnumJobs;
    win32.SetJobW = FakeSetJob;
    win32.DeletePrinter = FakeDeletePrinter;
    win32.DeletePrinterDriverExW = FakeDeletePrinterDriverEx;
    win32.DeleteMonitorW = FakeDeleteMonitor;
    win32.DeletePrintProcessorW = FakeDeletePrintProcessor;
    win32.EnumPrinterDriversW = FakeEnumPrinterDrivers;
    win32.SetupUninstallOEMInfW = FakeSetupUninstallOEMInf;
    win32.MoveFileExW = FakeMoveFileEx;
    win32.CM_Locate_DevNodeW = FakeLocateDevNode;
    win32.CM_Reenumerate_DevNode = FakeReenumerateDevNode;
    win32.SetupDiGetClassDevsW = FakeGetClassDevs;
    win32.SetupDiCreateDeviceInfoList = FakeCreateDeviceInfoList;
    win32.SetupDiDestroyDeviceInfoList = FakeDestroyDeviceInfoList;
    win32.SetupDiEnumDeviceInfo = FakeEnumDeviceInfo;
    win32.SetupDiOpenDeviceInfoW = FakeOpenDeviceInfo;
    win32.SetupDiGetDeviceInstanceIdW = FakeGetInstanceId;
    win32.SetupDiGetDeviceRegistryPropertyW = FakeGetDeviceProperty;
    win32.SetupDiOpenDevRegKey = FakeOpenDevRegKey;
    win32.SetupDiCallClassInstaller = FakeCallClassInstaller;
    win32.SetupDiGetDeviceInstallParamsW = FakeGetInstallParams;
    if (win32.RegQueryValueExW != FakeRegQueryValue) {
        queryOtherValue = win32.RegQueryValueExW;
        closeOtherKey = win32.RegCloseKey;
    }
    win32.RegQueryValueExW = FakeRegQueryValue;
    win32.RegCloseKey = FakeRegCloseKey;
    win32.Sleep = FakeSleep;
    InstallFakeSecurity();
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
