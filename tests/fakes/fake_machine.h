// A whole machine behind the seam for tests of the removal sequence and the
// uninstall command: the Windows folder is a real scratch folder (so walks,
// reads and deletions act on real files), while the services, the spooler,
// the setup API, the configuration manager, the shell and Sleep are fakes
// that record each call in order and can be told to fail.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/win32_api.h"

// A device node of the fake setup API.
struct FakeDevice {
    std::wstring instanceId;
    std::wstring deviceClass;  // SPDRP_CLASS
    std::wstring description;  // SPDRP_DEVICEDESC
    std::wstring infPath;      // its driver key's InfPath; no driver key when empty
    // The install parameters' Flags after its removal (DI_NEEDREBOOT, ...).
    DWORD flagsAfterRemoval = 0;
    bool removed = false;  // DIF_REMOVE took it: no longer listed or opened
};

struct FakeMachineState {
    std::wstring windowsFolder;  // with a trailing backslash
    DWORD spoolerState = SERVICE_RUNNING;
    // The state an accepted start leaves; START_PENDING for a slow spooler.
    DWORD spoolerStateAfterStart = SERVICE_RUNNING;
    // Asked at every accepted start: true when the spooler crashes at once
    // (it is then stopped, with exit code 1067).
    std::function<bool()> spoolerCrashes;
    DWORD spoolerExitCode = 0;
    // Called after every recorded Sleep, with its length.
    std::function<void(DWORD)> onSleep;
    std::set<std::wstring> printers;
    std::map<std::wstring, std::vector<DWORD>> jobs;  // printer -> queued job ids
    // Every driver record the spooler has, in every environment, as
    // EnumPrinterDriversW gives them (the blocks are copied; their texts stay
    // the test's).
    std::vector<const DRIVER_INFO_6W*> drivers;
    // Call name -> (first failing call number, error). Calls are counted per
    // name from 1; every call from that number on fails with the error.
    std::map<std::string, std::pair<int, DWORD>> failures;
    // Files another program holds open (full path as the program walks it ->
    // the error DeleteFileW gives for it): they stay, and the setup API's
    // removal of such an oem INF fails with the same error (any other oem
    // INF copy it removes from the inf folder). MoveFileExW
    // ("MoveFileEx", recorded and failed by FailCalls) only records.
    std::map<std::wstring, DWORD> filesInUse;
    CONFIGRET locateResult = CR_SUCCESS;
    // The setup API's device nodes, listed in this order. Its calls are
    // recorded as "SetupDiCallClassInstaller(<id>)" and so on, and fail by
    // FailCalls like every other; device info sets not yet destroyed are
    // counted in `openDeviceSets`.
    std::vector<FakeDevice> devices;
    int openDeviceSets = 0;
    std::vector<std::string> calls;  // "Name(argument)" in call order
    std::map<std::string, int> counts;
};

// DeleteMonitorW and DeletePrintProcessorW succeed, recorded as
// "DeleteMonitor(<name>)" and "DeletePrintProcessor(<environment>,<name>)".
// Puts the fake machine into `win32` (restore it with ScopedWin32Fakes).
// SHGetSpecialFolderPathW answers the Windows and system folders from
// `windowsFolder` and passes every other folder (Documents, for the log) to
// Windows.
FakeMachineState& InstallFakeMachine(const std::wstring& windowsFolder);

// Makes the seam report `nativeMachine` (an IMAGE_FILE_MACHINE_* value) as the
// machine Windows runs on, and this process as a WOW64 process or not:
// through IsWow64Process2, or, where `withIsWow64Process2` is false, with
// IsWow64Process2 missing, through GetNativeSystemInfo's processor
// architecture and IsWow64Process. InstallFakeMachine reports a native
// process on x64 Windows, so that the scratch Windows folder's System32 is
// the one the steps use.
void FakeNativeMachine(USHORT nativeMachine, bool wow64, bool withIsWow64Process2 = true);

// Makes the `fromCall`-th call of `name` and every later one fail with `error`.
void FailCalls(const std::string& name, int fromCall, DWORD error);

// The recorded calls whose names are in `names`, in order.
std::vector<std::string> CallsNamed(const std::set<std::string>& names);

// The name part of a recorded call ("SetJob(7)" -> "SetJob").
std::string CallName(const std::string& call);

// The token and file-security calls of taking ownership, in memory.
struct FakeSecurityState {
    std::vector<std::wstring> owned;     // paths given a new owner, in call order
    std::vector<std::string> ownerSids;  // the owner given each time, as "S-1-…"
    // One per DACL grant: "<path> <trustee SID> <access hex> <inheritance>".
    std::vector<std::string> grants;
    // "enable <name>=<attributes> …" and "restore <name>=<attributes> …", with
    // the privileges' names as LookupPrivilegeValueW was given them.
    std::vector<std::string> privilegeCalls;
    int openTokens = 0;
    int liveAllocations = 0;  // security descriptors and ACLs not yet freed
    DWORD ownerError = 0;     // setting an owner fails with it
};

// Puts fakes for OpenProcessToken, LookupPrivilegeValueW,
// AdjustTokenPrivileges (every privilege was disabled before), the token's
// CloseHandle, CreateWellKnownSid (real), Get/SetNamedSecurityInfoW,
// SetEntriesInAclW and LocalFree into `win32`. InstallFakeMachine does too.
FakeSecurityState& InstallFakeSecurity();
// The state of the fakes that InstallFakeSecurity put in.
FakeSecurityState& FakeSecurity();
