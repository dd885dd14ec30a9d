// A 32-bit program of the package on 64-bit Windows hands its job to the
// package's 64-bit copy of itself: Windows wants driver packages and Plug and
// Play handled by a native process, and several setup-API calls refuse a
// 32-bit caller (ERROR_IN_WOW64).
#pragma once

#include <string>

#include "platform/unique_handles.h"

// The folder of the running executable, with its trailing backslash; empty
// when the module path cannot be read whole or holds no backslash.
std::wstring OwnFolder();

// When this is a WOW64 process on x64 Windows, starts OwnFolder() +
// `relativePath` by its full path (never through a search) with `arguments`
// after its quoted name, and returns true. With `process` given, the copy
// shares this process's standard handles and its process handle is handed out
// there; otherwise nothing of it is kept. Returns false, having started
// nothing, in a native process, on other machines (ARM64 Windows runs the x86
// program itself), and when the copy is missing or cannot be started; the
// caller then does the job itself.
bool StartNativeCopy(const wchar_t* relativePath,
                     const std::wstring& arguments,
                     unique_handle* process = nullptr);
