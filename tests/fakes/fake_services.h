// A service control manager in memory: named services with a state, scripted
// state changes after a stop or start, refusals, and a record of the rights
// asked for, the handles left open, the pauses and the debug strings. Sleep
// only records, so a wait costs no time.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/win32_api.h"

namespace fake_services {

struct Service {
    DWORD state = SERVICE_STOPPED;
    DWORD waitHint = 0;
    // States the service passes through after an accepted stop or start, one
    // per status query; the last one stays.
    std::deque<std::pair<DWORD, DWORD>> afterStop = {{SERVICE_STOPPED, 0}};
    std::deque<std::pair<DWORD, DWORD>> afterStart = {{SERVICE_RUNNING, 0}};
    DWORD exitCode = 0;       // dwWin32ExitCode of every status
    DWORD controlError = 0;   // ControlService fails with it
    DWORD startError = 0;     // StartService fails with it
    int queryFailsFrom = -1;  // status queries from this one (0-based) on fail
    // Services that depend on this one, in the manager's enumeration order.
    // A stop is refused with 1051 while one of them is not stopped.
    std::vector<std::wstring> dependents;
    // Set by an accepted stop or start: the steps that the next queries walk.
    std::deque<std::pair<DWORD, DWORD>>* steps = nullptr;
    int queries = 0;
    int stops = 0;
    int starts = 0;
};

struct State {
    std::map<std::wstring, Service> services;
    DWORD managerError = 0;  // OpenSCManager fails with it
    std::vector<DWORD> managerAccess;
    std::vector<std::pair<std::wstring, DWORD>> serviceAccess;  // name, rights
    int openHandles = 0;
    std::vector<DWORD> sleeps;
    std::vector<std::wstring> debugStrings;
    // Every call, in order: "OpenSCManager", "OpenService <name>", "Query",
    // "Control", "Start", "Close", "Sleep <ms>", "EnumDependents".
    std::vector<std::string> calls;
    // Accepted stops and starts in order: "stop <name>", "start <name>".
    std::vector<std::string> controlOrder;
};

extern State scm;

// Resets `scm` and points the service entries of `win32`, Sleep and
// OutputDebugStringW at the fakes.
void Install();

}  // namespace fake_services
