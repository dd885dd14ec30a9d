// The launcher of the driver package: it starts the package's 64-bit or 32-bit
// setup program from the folder beside its own executable, according to the
// processor architecture of Windows itself. Every Windows call goes through
// `launcherApi` (launcher_api.h).
#pragma once

#include <string>

#include <windows.h>

// The setup programs, relative to the launcher's folder.
inline constexpr wchar_t SETUP_X64_PROGRAM[] = L"KAVROPrinterDriver\\Setup_X64.exe";
inline constexpr wchar_t SETUP_I386_PROGRAM[] = L"KAVROPrinterDriver\\Setup_i386.exe";

// Makes System32 the only folder that the process's later DLL loads search
// (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32, looked up at
// run time: Windows before 8 has it only with update KB2533623). The launcher
// runs elevated from the package folder, where anyone who can write may plant
// a DLL; this is the first act of its entry point. False when the function is
// missing or fails.
bool RestrictLauncherDllSearch();

// The folder of the launcher's own executable with its trailing backslash: the
// module path cut after its last backslash. Empty when the path holds no
// backslash or cannot be read. A path longer than 260 units is read whole
// rather than cut short, so that a truncated path never names another folder.
std::wstring LauncherFolder();

// The processor architecture of Windows itself (`wProcessorArchitecture`):
// GetNativeSystemInfo when kernel32.dll exports it, so that a 32-bit launcher
// on 64-bit Windows sees PROCESSOR_ARCHITECTURE_AMD64; GetSystemInfo on
// systems without it.
WORD NativeProcessorArchitecture();

// SETUP_X64_PROGRAM for AMD64 (9) and IA64 (6), SETUP_I386_PROGRAM for every
// other architecture value.
const wchar_t* SetupProgramFor(WORD architecture);

// Starts the setup program that fits this Windows with the shell's "open" verb,
// no parameters, no working folder (it inherits ours) and SW_SHOW, and returns
// without waiting. A setup program that is missing or fails to start is
// Windows' to report; the launcher shows nothing of its own.
void StartSetupProgram();
