#include "engine/service_control.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "log/operation_log.h"
#include "platform/win32_api.h"

namespace {

constexpr DWORD PCASVC_ACCESS = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;  // 0x34
constexpr wchar_t PCASVC_NAME[] = L"PcaSvc";
constexpr wchar_t SPOOLER_NAME[] = L"Spooler";

constexpr DWORD DEPENDENT_ACCESS = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;

enum class WaitResult { Reached, QueryFailed, TimedOut, StoppedAgain };

// The code a stopped service ended with: its own where it reports one.
DWORD ExitCodeOf(const SERVICE_STATUS& status) {
    return status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                  : status.dwWin32ExitCode;
}

// How a wait pauses between two status queries.
enum class PauseRule {
    // Sleep the reported hint, after the query that shows the target too; the
    // hint is raised to the minimum while the target is not yet reached, so a
    // service without a hint is not polled in a busy loop. Only PcaSvc's stop
    // wait keeps it: it runs beside the opening warning, where no user waits.
    WholeHint,
    // Sleep a tenth of the hint, within SERVICE_MIN_PAUSE_MS..
    // SERVICE_MAX_POLL_MS, and not at all once the target is reached: a
    // service usually gets there long before the hint it announces.
    TenthOfHint,
};

DWORD PauseFor(PauseRule rule, const SERVICE_STATUS& status, bool reached) {
    if (rule == PauseRule::TenthOfHint)
        return std::clamp(status.dwWaitHint / 10, SERVICE_MIN_PAUSE_MS, SERVICE_MAX_POLL_MS);
    return reached ? status.dwWaitHint : std::max(status.dwWaitHint, SERVICE_MIN_PAUSE_MS);
}

// Polls until the service shows `targetState`, pausing by `rule` between the
// queries. A failed query ends the wait; so does the wait limit. A wait for
// the running state also ends as soon as the service is stopped again: its
// start has failed, and no later query can change that (`exitCode` gets the
// code it stopped with).
WaitResult WaitForServiceState(SC_HANDLE service,
                               DWORD targetState,
                               PauseRule rule,
                               DWORD* exitCode = nullptr) {
    DWORD waited = 0;
    for (;;) {
        SERVICE_STATUS status{};
        if (!win32.QueryServiceStatus(service, &status))
            return WaitResult::QueryFailed;
        if (targetState == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED) {
            if (exitCode != nullptr)
                *exitCode = ExitCodeOf(status);
            return WaitResult::StoppedAgain;
        }
        const bool reached = status.dwCurrentState == targetState;
        if (reached && rule == PauseRule::TenthOfHint)
            return WaitResult::Reached;
        const DWORD pause =
            std::min(PauseFor(rule, status, reached), SERVICE_WAIT_LIMIT_MS - waited);
        win32.Sleep(pause);
        if (reached)
            return WaitResult::Reached;
        waited += pause;
        if (waited >= SERVICE_WAIT_LIMIT_MS)
            return WaitResult::TimedOut;
    }
}

// The start wait of both families: query first, then poll a tenth of the
// hint until running (or stopped again).
WaitResult WaitForRunning(SC_HANDLE service, DWORD* exitCode = nullptr) {
    return WaitForServiceState(service, SERVICE_RUNNING, PauseRule::TenthOfHint, exitCode);
}

// Logs a start that ended with the service stopped again, with the code it
// stopped with in the place of a failed call's last error.
void LogStoppedAfterStart(DWORD exitCode) {
    ::SetLastError(exitCode);
    WriteLog(SERVICE_STOPPED_AFTER_START_TEXT, exitCode != 0);
}

// After the running state, watches the service for `watchMs` more: one that
// stops by itself within it has not really started. A failed query ends the
// watch (the service is then taken as running).
bool StaysRunning(SC_HANDLE service, DWORD watchMs, DWORD& exitCode) {
    for (DWORD watched = 0; watched < watchMs; watched += SPOOLER_WATCH_POLL_MS) {
        win32.Sleep(SPOOLER_WATCH_POLL_MS);
        SERVICE_STATUS status{};
        if (!win32.QueryServiceStatus(service, &status))
            return true;
        if (status.dwCurrentState == SERVICE_STOPPED) {
            exitCode = ExitCodeOf(status);
            return false;
        }
    }
    return true;
}

// The spooler family's stop wait: true once stopped; false after logging the
// failed query or the timeout.
bool WaitForStoppedOrLog(SC_HANDLE service) {
    switch (WaitForServiceState(service, SERVICE_STOPPED, PauseRule::TenthOfHint)) {
        case WaitResult::Reached:
            return true;
        case WaitResult::QueryFailed:
            WriteLog(L"QueryServiceStatus", true);
            return false;
        case WaitResult::TimedOut:
        case WaitResult::StoppedAgain:  // only a wait for running ends so
            break;
    }
    WriteLog(SERVICE_STOP_TIMEOUT_TEXT, false);
    return false;
}

// Whether StopServiceByName stopped the spooler and StartServiceByName has
// not started it since. Read by the GUI thread when the program ends.
std::atomic<bool> spoolerLeftStopped{false};

// Serialises a stop of the spooler with its restart at the program's end, and
// refuses every stop after that restart: the run's worker goes on until the
// process ends and must not stop the spooler again behind it.
std::mutex spoolerStopLock;
bool programEnding = false;  // guarded by spoolerStopLock

bool IsSpooler(const std::wstring& serviceName) {
    return _wcsicmp(serviceName.c_str(), SPOOLER_NAME) == 0;
}

// The dependents stopped for each service, in the order they were stopped,
// until StartServiceByName starts them again. Guarded: a cancelled run may
// start the spooler from another thread than the worker's.
std::mutex stoppedDependentsLock;
std::map<std::wstring, std::vector<std::wstring>> stoppedDependents;

void RememberStoppedDependent(const std::wstring& serviceName, const std::wstring& dependent) {
    const std::lock_guard<std::mutex> lock(stoppedDependentsLock);
    stoppedDependents[serviceName].push_back(dependent);
}

std::vector<std::wstring> TakeStoppedDependents(const std::wstring& serviceName) {
    const std::lock_guard<std::mutex> lock(stoppedDependentsLock);
    std::vector<std::wstring> names = std::move(stoppedDependents[serviceName]);
    stoppedDependents.erase(serviceName);
    return names;
}

// The names of the active services that depend on `service`, directly or not,
// in the manager's order (those that depend on others first, the order in
// which they can be stopped). False after logging the failed call.
bool ActiveDependentsOf(SC_HANDLE service, std::vector<std::wstring>& names) {
    DWORD needed = 0;
    DWORD count = 0;
    if (win32.EnumDependentServicesW(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count))
        return true;  // none
    if (::GetLastError() != ERROR_MORE_DATA) {
        WriteLog(L"EnumDependentServices", true);
        return false;
    }
    std::vector<ENUM_SERVICE_STATUSW> buffer(needed / sizeof(ENUM_SERVICE_STATUSW) + 1);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(ENUM_SERVICE_STATUSW));
    if (!win32.EnumDependentServicesW(service, SERVICE_ACTIVE, buffer.data(), size, &needed,
                                      &count)) {
        WriteLog(L"EnumDependentServices", true);
        return false;
    }
    for (DWORD i = 0; i < count; ++i)
        names.emplace_back(buffer[i].lpServiceName);
    return true;
}

// Sends the stop control unless the service is already stopping, then waits
// for the stopped state. False after logging the failure.
bool StopAndWait(SC_HANDLE service, DWORD state) {
    if (state != SERVICE_STOP_PENDING) {
        SERVICE_STATUS status{};
        if (!win32.ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            WriteLog(L"ControlService", true);
            return false;
        }
    }
    return WaitForStoppedOrLog(service);
}

// Stops one dependent of `serviceName` and remembers it for the restart. A
// dependent that has stopped on its own meanwhile counts as stopped.
bool StopDependent(SC_HANDLE manager, const std::wstring& serviceName, const std::wstring& name) {
    unique_service dependent(win32.OpenServiceW(manager, name.c_str(), DEPENDENT_ACCESS));
    if (!dependent) {
        WriteLog(L"OpenService", true);
        return false;
    }
    SERVICE_STATUS status{};
    if (!win32.QueryServiceStatus(dependent.get(), &status)) {
        WriteLog(L"QueryServiceStatus", true);
        return false;
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    if (!StopAndWait(dependent.get(), status.dwCurrentState))
        return false;
    RememberStoppedDependent(serviceName, name);
    return true;
}

bool StopActiveDependents(SC_HANDLE manager, SC_HANDLE service, const std::wstring& serviceName) {
    std::vector<std::wstring> names;
    if (!ActiveDependentsOf(service, names))
        return false;
    for (const std::wstring& name : names) {
        if (!StopDependent(manager, serviceName, name))
            return false;
    }
    return true;
}

// Starts again, last stopped first, the dependents stopped for `serviceName`.
// A refusal is logged; the others are still started.
void StartStoppedDependents(SC_HANDLE manager, const std::wstring& serviceName) {
    std::vector<std::wstring> names = TakeStoppedDependents(serviceName);
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        unique_service dependent(win32.OpenServiceW(manager, name->c_str(), DEPENDENT_ACCESS));
        if (!dependent) {
            WriteLog(L"OpenService", true);
            continue;
        }
        if (!win32.StartServiceW(dependent.get(), 0, nullptr) &&
            ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            WriteLog(L"StartService", true);
        }
    }
}

// Opens the manager (all access) and the named service (all access) for the
// spooler family, logging the failed call.
bool OpenServiceWithFullAccess(const std::wstring& serviceName,
                               unique_service& manager,
                               unique_service& service) {
    manager.reset(win32.OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        WriteLog(L"OpenSCManager", true);
        return false;
    }
    service.reset(win32.OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_ALL_ACCESS));
    if (!service) {
        WriteLog(L"OpenService", true);
        return false;
    }
    return true;
}

// The service's current state, or false after logging the failed query: a
// status that could not be read is never taken for a state.
bool QueryCurrentState(SC_HANDLE service, DWORD& state) {
    SERVICE_STATUS status{};
    if (!win32.QueryServiceStatus(service, &status)) {
        WriteLog(L"QueryServiceStatus", true);
        return false;
    }
    state = status.dwCurrentState;
    return true;
}

// Opens the named service for the spooler family and reads its state; false
// after logging the failed call.
bool OpenServiceAndReadState(const std::wstring& serviceName,
                             unique_service& manager,
                             unique_service& service,
                             DWORD& state) {
    return OpenServiceWithFullAccess(serviceName, manager, service) &&
           QueryCurrentState(service.get(), state);
}

// Opens "PcaSvc" and reads its state; false when either fails.
bool OpenPcaSvc(const unique_service& manager, unique_service& service, DWORD& state) {
    service.reset(win32.OpenServiceW(manager.get(), PCASVC_NAME, PCASVC_ACCESS));
    if (!service)
        return false;
    SERVICE_STATUS status{};
    if (!win32.QueryServiceStatus(service.get(), &status))
        return false;
    state = status.dwCurrentState;
    return true;
}

}  // namespace

bool StopServiceByName(const std::wstring& serviceName) {
    std::unique_lock<std::mutex> lock(spoolerStopLock, std::defer_lock);
    if (IsSpooler(serviceName)) {
        lock.lock();
        if (programEnding)
            return false;
    }
    unique_service manager;
    unique_service service;
    DWORD state = 0;
    if (!OpenServiceAndReadState(serviceName, manager, service, state))
        return false;
    if (state == SERVICE_STOPPED)
        return true;
    if (IsSpooler(serviceName))
        spoolerLeftStopped = true;  // from the first control on: it may stop after a failure too
    return StopActiveDependents(manager.get(), service.get(), serviceName) &&
           StopAndWait(service.get(), state);
}

namespace {

// Starts a stopped service and waits for it as StartServiceByName describes.
// A start the manager refuses because the service's process ended (1067) is
// a start that failed in the service, as is a service stopped again during
// the wait.
ServiceStart StartStoppedService(SC_HANDLE service) {
    if (!win32.StartServiceW(service, 0, nullptr)) {
        const bool ended = ::GetLastError() == ERROR_PROCESS_ABORTED;
        WriteLog(L"StartService", true);
        return ended ? ServiceStart::StoppedAgain : ServiceStart::Failed;
    }
    DWORD exitCode = 0;
    switch (WaitForRunning(service, &exitCode)) {
        case WaitResult::TimedOut:
            WriteLog(SERVICE_START_TIMEOUT_TEXT, false);
            return ServiceStart::Failed;
        case WaitResult::StoppedAgain:
            LogStoppedAfterStart(exitCode);
            return ServiceStart::StoppedAgain;
        case WaitResult::Reached:
        case WaitResult::QueryFailed:
            break;
    }
    return ServiceStart::Running;
}

// The watch of a watched start: the service, running or about to, is watched
// for `watchMs`; StoppedAgain (logged) when it stops by itself meanwhile.
ServiceStart WatchStartedService(SC_HANDLE service, DWORD watchMs) {
    DWORD exitCode = 0;
    if (StaysRunning(service, watchMs, exitCode))
        return ServiceStart::Running;
    LogStoppedAfterStart(exitCode);
    return ServiceStart::StoppedAgain;
}

}  // namespace

ServiceStart StartServiceWatched(const std::wstring& serviceName, DWORD watchMs) {
    unique_service manager;
    unique_service service;
    DWORD state = 0;
    if (!OpenServiceAndReadState(serviceName, manager, service, state))
        return ServiceStart::Failed;
    if (state == SERVICE_STOP_PENDING) {
        if (!WaitForStoppedOrLog(service.get()))
            return ServiceStart::Failed;
        state = SERVICE_STOPPED;
    }
    if (state == SERVICE_STOPPED) {
        const ServiceStart started = StartStoppedService(service.get());
        if (started != ServiceStart::Running)
            return started;
    }
    // Watched whatever state it was found in: the watch is the pause that the
    // caller makes after the start anyway.
    if (watchMs > 0) {
        const ServiceStart watched = WatchStartedService(service.get(), watchMs);
        if (watched != ServiceStart::Running)
            return watched;
    }
    if (IsSpooler(serviceName))
        spoolerLeftStopped = false;
    StartStoppedDependents(manager.get(), serviceName);
    return ServiceStart::Running;
}

bool StartServiceByName(const std::wstring& serviceName) {
    return StartServiceWatched(serviceName, 0) == ServiceStart::Running;
}

SpoolerStart StartSpoolerWatched() {
    for (int attempt = 0; attempt < SPOOLER_START_ATTEMPTS; ++attempt) {
        const ServiceStart started = StartServiceWatched(SPOOLER_NAME, SPOOLER_START_WATCH_MS);
        if (started != ServiceStart::StoppedAgain)
            return started == ServiceStart::Running ? SpoolerStart::Running : SpoolerStart::Failed;
    }
    return SpoolerStart::CannotRun;
}

SpoolerStart RestartSpoolerWatched() {
    if (!StopServiceByName(SPOOLER_NAME)) {
        WriteLog(L"关闭服务失败", false);
        return SpoolerStart::Failed;
    }
    win32.Sleep(SPOOLER_RESTART_PAUSE_MS);
    const SpoolerStart started = StartSpoolerWatched();
    if (started != SpoolerStart::Running)
        WriteLog(L"开启服务失败", false);
    return started;
}

bool SpoolerIsStopped() {
    unique_service manager;
    unique_service service;
    DWORD state = 0;
    return OpenServiceAndReadState(SPOOLER_NAME, manager, service, state) &&
           state == SERVICE_STOPPED;
}

bool StartSpoolerIfLeftStopped() {
    const std::lock_guard<std::mutex> lock(spoolerStopLock);
    programEnding = true;
    return !spoolerLeftStopped || StartServiceByName(SPOOLER_NAME);
}

void ResetProgramEndForTests() {
    const std::lock_guard<std::mutex> lock(spoolerStopLock);
    programEnding = false;
    spoolerLeftStopped = false;
}

bool RestartSpooler() {
    if (!StopServiceByName(SPOOLER_NAME)) {
        WriteLog(L"关闭服务失败", false);
        return false;
    }
    win32.Sleep(SPOOLER_RESTART_PAUSE_MS);
    if (!StartServiceByName(SPOOLER_NAME)) {
        WriteLog(L"开启服务失败", false);
        return false;
    }
    return true;
}

void StopPcaSvc(unique_service manager) {
    unique_service service;
    DWORD state = 0;
    if (!OpenPcaSvc(manager, service, state) || state != SERVICE_RUNNING)
        return;
    SERVICE_STATUS status{};
    if (!win32.ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        return;
    if (WaitForServiceState(service.get(), SERVICE_STOPPED, PauseRule::WholeHint) ==
        WaitResult::Reached) {
        win32.OutputDebugStringW(L"stop success。");
    }
}

void StartPcaSvc(unique_service manager) {
    unique_service service;
    DWORD state = 0;
    if (!OpenPcaSvc(manager, service, state) || state != SERVICE_STOPPED)
        return;
    if (!win32.StartServiceW(service.get(), 0, nullptr))
        return;
    if (WaitForRunning(service.get()) == WaitResult::Reached) {
        win32.OutputDebugStringW(L"start success。");
    }
}
