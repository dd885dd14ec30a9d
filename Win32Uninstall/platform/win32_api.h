// The one seam between the uninstaller and Windows.
//
// Every Windows function that the program calls and that a test may want to
// fail, count or observe is reached through the process-wide table `win32`,
// which holds the real functions by default. Tests replace single entries with
// fakes (see tests/fakes/) and restore the table afterwards. GetLastError and
// SetLastError are not in the table: fakes set the last error themselves.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winspool.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <shellapi.h>
#include <shlobj.h>
#include <aclapi.h>
#include <commctrl.h>

struct Win32Api {
    // Files, folders and directory enumeration.
    decltype(&::CreateFileW) CreateFileW;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WriteFile) WriteFile;
    decltype(&::SetFilePointerEx) SetFilePointerEx;
    decltype(&::GetFileSizeEx) GetFileSizeEx;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::CreateDirectoryW) CreateDirectoryW;
    decltype(&::DeleteFileW) DeleteFileW;
    decltype(&::RemoveDirectoryW) RemoveDirectoryW;
    // Deletion at the next restart of a file in use (MOVEFILE_DELAY_UNTIL_REBOOT).
    decltype(&::MoveFileExW) MoveFileExW;
    decltype(&::FindFirstFileW) FindFirstFileW;
    decltype(&::FindNextFileW) FindNextFileW;
    decltype(&::FindClose) FindClose;

    // Time, text and diagnostics.
    decltype(&::Sleep) Sleep;
    decltype(&::GetLocalTime) GetLocalTime;
    decltype(&::FormatMessageW) FormatMessageW;
    decltype(&::MultiByteToWideChar) MultiByteToWideChar;
    decltype(&::WideCharToMultiByte) WideCharToMultiByte;
    decltype(&::OutputDebugStringW) OutputDebugStringW;

    // Threads.
    decltype(&::CreateThread) CreateThread;
    decltype(&::SetThreadPriority) SetThreadPriority;
    decltype(&::WaitForSingleObject) WaitForSingleObject;

    // Shell.
    decltype(&::SHGetSpecialFolderPathW) SHGetSpecialFolderPathW;
    decltype(&::ShellExecuteW) ShellExecuteW;

    // Print spooler (looked up in System32's winspool.drv at run time; a
    // function not found fails with ERROR_PROC_NOT_FOUND).
    decltype(&::EnumPrintersW) EnumPrintersW;
    decltype(&::EnumPrinterDriversW) EnumPrinterDriversW;
    decltype(&::OpenPrinterW) OpenPrinterW;
    decltype(&::GetPrinterDriverW) GetPrinterDriverW;
    decltype(&::ClosePrinter) ClosePrinter;
    decltype(&::EnumJobsW) EnumJobsW;
    decltype(&::SetJobW) SetJobW;
    decltype(&::DeletePrinter) DeletePrinter;
    decltype(&::DeletePrinterConnectionW) DeletePrinterConnectionW;
    decltype(&::DeletePrinterDriverExW) DeletePrinterDriverExW;
    decltype(&::DeleteMonitorW) DeleteMonitorW;
    decltype(&::DeletePrintProcessorW) DeletePrintProcessorW;

    // Service control manager.
    decltype(&::OpenSCManagerW) OpenSCManagerW;
    decltype(&::OpenServiceW) OpenServiceW;
    decltype(&::QueryServiceStatus) QueryServiceStatus;
    decltype(&::ControlService) ControlService;
    decltype(&::StartServiceW) StartServiceW;
    decltype(&::CloseServiceHandle) CloseServiceHandle;
    decltype(&::EnumDependentServicesW) EnumDependentServicesW;

    // Registry (the spooler's own keys, read and changed while it cannot run).
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegEnumKeyExW) RegEnumKeyExW;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    decltype(&::RegDeleteKeyW) RegDeleteKeyW;
    decltype(&::RegCloseKey) RegCloseKey;

    // Setup API and configuration manager.
    decltype(&::SetupUninstallOEMInfW) SetupUninstallOEMInfW;
    decltype(&::CM_Locate_DevNodeW) CM_Locate_DevNodeW;
    decltype(&::CM_Reenumerate_DevNode) CM_Reenumerate_DevNode;
    // Device nodes: listed with their driver keys, and removed one by one.
    decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW;
    decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
    decltype(&::SetupDiGetDeviceInstanceIdW) SetupDiGetDeviceInstanceIdW;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) SetupDiGetDeviceRegistryPropertyW;
    decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey;
    decltype(&::SetupDiCreateDeviceInfoList) SetupDiCreateDeviceInfoList;
    decltype(&::SetupDiOpenDeviceInfoW) SetupDiOpenDeviceInfoW;
    decltype(&::SetupDiCallClassInstaller) SetupDiCallClassInstaller;
    decltype(&::SetupDiGetDeviceInstallParamsW) SetupDiGetDeviceInstallParamsW;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;

    // Processes and the machine Windows runs on. IsWow64Process2 is looked up
    // at run time (Windows 10 1511 and later) and is null where it is missing.
    BOOL(WINAPI* IsWow64Process2)(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);
    decltype(&::IsWow64Process) IsWow64Process;
    decltype(&::GetNativeSystemInfo) GetNativeSystemInfo;
    decltype(&::CreateProcessW) CreateProcessW;
    decltype(&::GetModuleFileNameW) GetModuleFileNameW;
    decltype(&::GetSystemDirectoryW) GetSystemDirectoryW;

    // Token privileges and shutdown.
    decltype(&::GetVersionExW) GetVersionExW;
    decltype(&::OpenProcessToken) OpenProcessToken;
    decltype(&::LookupPrivilegeValueW) LookupPrivilegeValueW;
    decltype(&::AdjustTokenPrivileges) AdjustTokenPrivileges;

    // Security descriptors of files and folders (taking ownership).
    decltype(&::CreateWellKnownSid) CreateWellKnownSid;
    decltype(&::GetNamedSecurityInfoW) GetNamedSecurityInfoW;
    decltype(&::SetNamedSecurityInfoW) SetNamedSecurityInfoW;
    decltype(&::SetEntriesInAclW) SetEntriesInAclW;
    decltype(&::LocalFree) LocalFree;
    decltype(&::ExitWindowsEx) ExitWindowsEx;
    decltype(&::GetTokenInformation) GetTokenInformation;
    decltype(&::CheckTokenMembership) CheckTokenMembership;

    // User interface calls that tests observe or answer.
    decltype(&::MessageBoxW) MessageBoxW;
    decltype(&::SendMessageW) SendMessageW;
    decltype(&::EnableWindow) EnableWindow;
    decltype(&::SetTimer) SetTimer;
    decltype(&::KillTimer) KillTimer;
    decltype(&::SetWindowTextW) SetWindowTextW;
    decltype(&::DispatchMessageW) DispatchMessageW;
    decltype(&::GetDlgCtrlID) GetDlgCtrlID;
    decltype(&::GetDlgItem) GetDlgItem;
    decltype(&::GetMessageW) GetMessageW;
    decltype(&::ShowWindow) ShowWindow;
    decltype(&::TranslateMessage) TranslateMessage;

    // Common controls (looked up in System32's comctl32.dll at run time).
    decltype(&::InitCommonControlsEx) InitCommonControlsEx;
};

// The table the program calls through. Filled with the real functions during
// static initialisation.
extern Win32Api win32;

// A table holding the real Windows functions, for restoring `win32`.
Win32Api RealWin32Api();
