#include "platform/win32_api.h"

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

    api.EnumPrintersW = ::EnumPrintersW;
    api.EnumPrinterDriversW = ::EnumPrinterDriversW;
    api.OpenPrinterW = ::OpenPrinterW;
    api.GetPrinterDriverW = ::GetPrinterDriverW;
    api.ClosePrinter = ::ClosePrinter;
    api.EnumJobsW = ::EnumJobsW;
    api.SetJobW = ::SetJobW;
    api.DeletePrinter = ::DeletePrinter;
    api.DeletePrinterConnectionW = ::DeletePrinterConnectionW;
    api.DeletePrinterDriverExW = ::DeletePrinterDriverExW;

    api.OpenSCManagerW = ::OpenSCManagerW;
    api.OpenServiceW = ::OpenServiceW;
    api.QueryServiceStatus = ::QueryServiceStatus;
    api.ControlService = ::ControlService;
    api.StartServiceW = ::StartServiceW;
    api.CloseServiceHandle = ::CloseServiceHandle;
    api.EnumDependentServicesW = ::EnumDependentServicesW;

    api.SetupUninstallOEMInfW = ::SetupUninstallOEMInfW;
    api.CM_Locate_DevNodeW = ::CM_Locate_DevNodeW;
    api.CM_Reenumerate_DevNode = ::CM_Reenumerate_DevNode;

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
