// Where the uninstaller loads DLLs from. It runs elevated, usually from the
// folder a user unpacked the driver package into, so a DLL planted there must
// never be loaded: the import table names only KnownDLLs (which Windows always
// takes from System32), the DLLs that are not KnownDLLs are loaded from
// System32 by full search rule at run time, and every later load of the
// process, Windows' own included, searches System32 only.
#pragma once

#include <windows.h>

// Makes System32 the only folder that the process's later DLL loads search
// (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32, looked up at
// run time: Windows before 8 has it only with update KB2533623). The first
// act of the entry point. False when the function is missing or fails.
bool RestrictDllSearchToSystem32();

// Loads `fileName` (a bare name such as L"winspool.drv") from System32 only.
// Each call adds a reference to the module, which is never freed: its
// functions stay in the seam for the life of the process. Where LOAD_LIBRARY_SEARCH_SYSTEM32 is not
// understood (error 87), the full System32 path is loaded instead, with its
// dependencies searched from there. Null, with the last error set, when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// A stand-in for a function that could not be found: fails like a failed
// call, with ERROR_PROC_NOT_FOUND, and returns the zero of its result type.
template <typename Result, typename... Arguments>
Result WINAPI MissingSystemFunction(Arguments...) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return Result{};
}

// Points `entry` at the function `name` of `module`, or at
// MissingSystemFunction when the module is null or lacks it.
template <typename Result, typename... Arguments>
void BindSystemFunction(Result(WINAPI*& entry)(Arguments...), HMODULE module, const char* name) {
    const FARPROC found = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
    entry = found != nullptr
                ? reinterpret_cast<Result(WINAPI*)(Arguments...)>(reinterpret_cast<void*>(found))
                : &MissingSystemFunction<Result, Arguments...>;
}
