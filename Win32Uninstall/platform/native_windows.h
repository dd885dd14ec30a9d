// What the program needs to know about the Windows it runs on, as opposed to
// the 32-bit view that WOW64 gives a 32-bit process on 64-bit Windows: the
// machine Windows itself runs on, the printer environment of its own drivers
// and the way to its own System32 folder.
#pragma once

#include <string>

#include <windows.h>

// IMAGE_FILE_MACHINE_* values of the machines the program knows.
constexpr USHORT MACHINE_I386 = 0x014c;
constexpr USHORT MACHINE_AMD64 = 0x8664;
constexpr USHORT MACHINE_ARM64 = 0xAA64;

// The machine Windows itself runs on, and whether this process is a 32-bit
// process under WOW64.
struct NativeMachine {
    USHORT machine = 0;  // an IMAGE_FILE_MACHINE_* value; 0 when unknown
    bool wow64 = false;
};

// Asks IsWow64Process2 (looked up at run time: Windows 10 1511 and later).
// Where it is missing or fails, the processor architecture of
// GetNativeSystemInfo gives the machine and IsWow64Process tells WOW64.
NativeMachine QueryNativeMachine();

// The spooler's environment name for the drivers of Windows itself:
// "Windows x64", "Windows ARM64" or "Windows NT x86"; null for a machine the
// program does not know, which leaves the choice to the spooler.
const wchar_t* NativePrinterEnvironment();

// The Windows folder, without a trailing backslash. Returns false, with the
// shell's last error, when the shell cannot tell it (paths built from an empty
// folder would lead to the root of whatever drive is current); `folder` is
// then unchanged.
// With `below`, that text is appended (for example "\inf\").
bool WindowsFolder(std::wstring& folder, const wchar_t* below = L"");

// Windows' own System32 folder, without a trailing backslash: the Windows
// folder followed by "\System32", or by "\Sysnative" in a WOW64 process, whose
// "System32" would lead to SysWOW64. Returns false as WindowsFolder does.
// With `below`, that text is appended (for example "\spool\drivers\").
bool NativeSystemFolder(std::wstring& folder, const wchar_t* below = L"");

// `path` as a person finds it in Explorer, and as Windows itself spells it: a
// 32-bit process on 64-bit Windows reaches Windows' own System32 through
// "Sysnative", a name that exists only for 32-bit processes, and both builds
// compose System32 paths from the Windows folder. A path whose first
// "\System32" or "\Sysnative" folder is the system folder
// (GetSystemDirectoryW, compared case-insensitively) is shown with the system
// folder's own spelling from there ("C:\windows\Sysnative\spool\x.dll"
// and "C:\windows\System32\spool\x.dll" both give
// "C:\windows\system32\spool\x.dll" where Windows names its folder
// "C:\windows\system32"), so that both builds write the same records. Any
// other Sysnative path names System32 instead; any other path as it is.
std::wstring PathShownToPeople(const std::wstring& path);
