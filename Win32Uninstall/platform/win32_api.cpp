#include "platform/win32_api.h"

#include "platform/system_libraries.h"

namespace {

template <typename Function>
Function LookUp(const wchar_t* module, const char* name) {
    const HMODULE loaded = ::GetModuleHandleW(module);
    return loaded != nullptr
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(loaded, name)))
               : nullptr;
}

}  // namespace

Win32Api RealWin32Api() {
    Win32Api api{};
    api.CreateFileW = ::CreateFileW;
    api.ReadFile = ::ReadFile;
    api.WriteFile = ::WriteFile;
    api.SetFilePointerEx = ::SetFilePointerEx;
    api.GetFileSizeEx = ::GetFileSizeEx;
    api.CloseHandle = ::CloseHandle;
    api.CreateDirectoryW = ::CreateDirectoryW;
    api.DeleteFileW = ::DeleteFileW;
    api.RemoveDirectoryW = ::RemoveDirectoryW;
    api.MoveFileExW = ::MoveFileExW;
    api.FindFirstFileW = ::FindFirstFileW;
    api.FindNextFileW = ::FindNextFileW;
    api.FindClose = ::FindClose;

    api.Sleep = ::Sleep;
    api.GetLocalTime = ::GetLocalTime;
    api.FormatMessageW = ::FormatMessageW;
    api.MultiByteToWideChar = ::MultiByteToWideChar;
    api.WideCharToMultiByte = ::WideCharToMultiByte;
    api.OutputDebugStringW = ::OutputDebugStringW;

    api.CreateThread = ::CreateThread;
    api.SetThreadPriority = ::SetThreadPriority;
    api.WaitForSingleObject = ::WaitForSingleObject;

    api.SHGetSpecialFolderPathW = ::SHGetSpecialFolderPathW;
    api.ShellExecuteW = ::ShellExecuteW;

    // Neither the spooler's DLL nor the common controls are KnownDLLs: they are
    // loaded from System32 by name at run time, never through the import
    // table, which Windows would resolve from the program's folder first.
    const HMODULE winspool = LoadSystemLibrary(L"winspool.drv");
    BindSystemFunction(api.EnumPrintersW, winspool, "EnumPrintersW");
    BindSystemFunction(api.EnumPrinterDriversW, winspool, "EnumPrinterDriversW");
    BindSystemFunction(api.OpenPrinterW, winspool, "OpenPrinterW");
    BindSystemFunction(api.GetPrinterDriverW, winspool, "GetPrinterDriverW");
    BindSystemFunction(api.ClosePrinter, winspool, "ClosePrinter");
    BindSystemFunction(api.EnumJobsW, winspool, "EnumJobsW");
    BindSystemFunction(api.SetJobW, winspool, "SetJobW");
    BindSystemFunction(api.DeletePrinter, winspool, "DeletePrinter");
    BindSystemFunction(api.DeletePrinterConnectionW, winspool, "DeletePrinterConnectionW");
    BindSystemFunction(api.DeletePrinterDriverExW, winspool, "DeletePrinterDriverExW");
    BindSystemFunction(api.DeleteMonitorW, winspool, "DeleteMonitorW");
    BindSystemFunction(api.DeletePrintProcessorW, winspool, "DeletePrintProcessorW");
    BindSystemFunction(api.InitCommonControlsEx, LoadSystemLibrary(L"comctl32.dll"),
                       "InitCommonControlsEx");

    api.OpenSCManagerW = ::OpenSCManagerW;
    api.OpenServiceW = ::OpenServiceW;
    api.QueryServiceStatus = ::QueryServiceStatus;
    api.ControlService = ::ControlService;
    api.StartServiceW = ::StartServiceW;
    api.CloseServiceHandle = ::CloseServiceHandle;
    api.EnumDependentServicesW = ::EnumDependentServicesW;

    api.RegOpenKeyExW = ::RegOpenKeyExW;
    api.RegEnumKeyExW = ::RegEnumKeyExW;
    api.RegQueryValueExW = ::RegQueryValueExW;
    api.RegDeleteKeyW = ::RegDeleteKeyW;
    api.RegCloseKey = ::RegCloseKey;

    api.SetupUninstallOEMInfW = ::SetupUninstallOEMInfW;
    api.CM_Locate_DevNodeW = ::CM_Locate_DevNodeW;
    api.CM_Reenumerate_DevNode = ::CM_Reenumerate_DevNode;
    api.SetupDiGetClassDevsW = ::SetupDiGetClassDevsW;
    api.SetupDiEnumDeviceInfo = ::SetupDiEnumDeviceInfo;
    api.SetupDiGetDeviceInstanceIdW = ::SetupDiGetDeviceInstanceIdW;
    api.SetupDiGetDeviceRegistryPropertyW = ::SetupDiGetDeviceRegistryPropertyW;
    api.SetupDiOpenDevRegKey = ::SetupDiOpenDevRegKey;
    api.SetupDiCreateDeviceInfoList = ::SetupDiCreateDeviceInfoList;
    api.SetupDiOpenDeviceInfoW = ::SetupDiOpenDeviceInfoW;
    api.SetupDiCallClassInstaller = ::SetupDiCallClassInstaller;
    api.SetupDiGetDeviceInstallParamsW = ::SetupDiGetDeviceInstallParamsW;
    api.SetupDiDestroyDeviceInfoList = ::SetupDiDestroyDeviceInfoList;

    api.IsWow64Process2 = LookUp<decltype(api.IsWow64Process2)>(L"kernel32.dll", "IsWow64Process2");
    api.IsWow64Process = ::IsWow64Process;
    api.GetNativeSystemInfo = ::GetNativeSystemInfo;
    api.CreateProcessW = ::CreateProcessW;
    api.GetModuleFileNameW = ::GetModuleFileNameW;
    api.GetSystemDirectoryW = ::GetSystemDirectoryW;

    api.GetVersionExW = ::GetVersionExW;
    api.OpenProcessToken = ::OpenProcessToken;
    api.LookupPrivilegeValueW = ::LookupPrivilegeValueW;
    api.AdjustTokenPrivileges = ::AdjustTokenPrivileges;

    api.CreateWellKnownSid = ::CreateWellKnownSid;
    api.GetNamedSecurityInfoW = ::GetNamedSecurityInfoW;
    api.SetNamedSecurityInfoW = ::SetNamedSecurityInfoW;
    api.SetEntriesInAclW = ::SetEntriesInAclW;
    api.LocalFree = ::LocalFree;
    api.ExitWindowsEx = ::ExitWindowsEx;
    api.GetTokenInformation = ::GetTokenInformation;
    api.CheckTokenMembership = ::CheckTokenMembership;

    api.MessageBoxW = ::MessageBoxW;
    api.SendMessageW = ::SendMessageW;
    api.EnableWindow = ::EnableWindow;
    api.SetTimer = ::SetTimer;
    api.KillTimer = ::KillTimer;
    api.SetWindowTextW = ::SetWindowTextW;
    api.DispatchMessageW = ::DispatchMessageW;
    api.GetDlgCtrlID = ::GetDlgCtrlID;
    api.GetDlgItem = ::GetDlgItem;
    api.GetMessageW = ::GetMessageW;
    api.ShowWindow = ::ShowWindow;
    api.TranslateMessage = ::TranslateMessage;
    return api;
}

Win32Api win32 = RealWin32Api();
