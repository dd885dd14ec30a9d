#include "engine/service_control.h"

#include <algorithm>

#include "log/operation_log.h"
#include "platform/win32_api.h"

namespace {

constexpr DWORD PCASVC_ACCESS = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;  // 0x34
constexpr wchar_t PCASVC_NAME[] = L"PcaSvc";
constexpr wchar_t SPOOLER_NAME[] = L"Spooler";

enum class WaitResult { Reached, QueryFailed, TimedOut };

// Polls until the service shows `targetState`: query, pause for the reported
// wait hint, and stop when that status showed the target. A failed query ends
// the wait; so does the wait limit.
WaitResult WaitForServiceState(SC_HANDLE service, DWORD targetState) {
    DWORD waited = 0;
    for (;;) {
        SERVICE_STATUS status{};
        if (!win32.QueryServiceStatus(service, &status))
            return WaitResult::QueryFailed;
        const bool reached = status.dwCurrentState == targetState;
        DWORD pause = status.dwWaitHint;
        if (!reached)
            pause = std::max(pause, SERVICE_MIN_PAUSE_MS);
        pause = std::min(pause, SERVICE_WAIT_LIMIT_MS - waited);
        win32.Sleep(pause);
        if (reached)
            return WaitResult::Reached;
        waited += pause;
        if (waited >= SERVICE_WAIT_LIMIT_MS)
            return WaitResult::TimedOut;
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
    unique_service manager;
    unique_service service;
    DWORD state = 0;
    if (!OpenServiceAndReadState(serviceName, manager, service, state))
        return false;
    if (state != SERVICE_STOPPED) {
        SERVICE_STATUS status{};
        if (!win32.ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
            WriteLog(L"ControlService", true);
            return false;
        }
    }
    return true;
}

bool StartServiceByName(const std::wstring& serviceName) {
    unique_service manager;
    unique_service service;
    DWORD state = 0;
    if (!OpenServiceAndReadState(serviceName, manager, service, state))
        return false;
    if (state != SERVICE_STOPPED)
        return true;
    if (!win32.StartServiceW(service.get(), 0, nullptr)) {
        WriteLog(L"StartService", true);
        return false;
    }
    if (WaitForServiceState(service.get(), SERVICE_RUNNING) == WaitResult::TimedOut) {
        WriteLog(SERVICE_START_TIMEOUT_TEXT, false);
        return false;
    }
    return true;
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
    if (WaitForServiceState(service.get(), SERVICE_STOPPED) == WaitResult::Reached) {
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
    if (WaitForServiceState(service.get(), SERVICE_RUNNING) == WaitResult::Reached) {
        win32.OutputDebugStringW(L"start success。");
    }
}
