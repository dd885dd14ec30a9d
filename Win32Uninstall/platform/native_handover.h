// The 32-bit Uninstall.exe on 64-bit Windows hands the whole job to the
// package's 64-bit copy: Windows wants driver packages and Plug and Play
// handled by a native process, and several setup-API calls refuse a 32-bit
// caller (ERROR_IN_WOW64).
#pragma once

#include <string>

// Where the package keeps the 64-bit copy, relative to the folder of
// Uninstall.exe.
constexpr wchar_t NATIVE_COPY_PATH[] = L"x64\\Uninstall.exe";

// The folder of the running executable, with its trailing backslash; empty
// when the module path cannot be read whole or holds no backslash.
std::wstring OwnFolder();

// When this is a WOW64 process on x64 Windows, starts OwnFolder() +
// NATIVE_COPY_PATH by its full path (never through a search), without waiting
// for it, and returns true: the caller then ends at once with exit code 0.
// Returns false, having started nothing, in a native process, on other
// machines (ARM64 Windows runs this x86 program itself), and when the copy is
// missing or cannot be started; the caller then does the job itself.
bool HandOverToNativeCopy();
