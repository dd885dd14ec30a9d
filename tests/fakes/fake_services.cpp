#include "fakes/fake_services.h"

namespace fake_services {

State scm;

namespace {

// Handles: the manager is 0x7000; a service handle holds the address of its
// name's entry in the map, which does not move.
const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(static_cast<INT_PTR>(0x7000));

Service& ServiceOf(SC_HANDLE handle) {
    return *reinterpret_cast<Service*>(handle);
}

std::string NameOf(SC_HANDLE handle) {
    for (const auto& [name, service] : scm.services) {
        if (&service == &ServiceOf(handle))
            return std::string(name.begin(), name.end());
    }
    return "?";
}

// The dependents of `service` that are not stopped.
std::vector<const std::wstring*> ActiveDependents(const Service& service) {
    std::vector<const std::wstring*> active;
    for (const std::wstring& name : service.dependents) {
        const auto found = scm.services.find(name);
        if (found != scm.services.end() && found->second.state != SERVICE_STOPPED)
            active.push_back(&found->first);
    }
    return active;
}

// Moves a service one step along its scripted changes.
void Advance(Service& service, std::deque<std::pair<DWORD, DWORD>>& steps) {
    if (steps.empty())
        return;
    service.state = steps.front().first;
    service.waitHint = steps.front().second;
    if (steps.size() > 1)
        steps.pop_front();
}

SC_HANDLE WINAPI OpenManager(LPCWSTR, LPCWSTR, DWORD access) {
    scm.calls.push_back("OpenSCManager");
    scm.managerAccess.push_back(access);
    if (scm.managerError != 0) {
        ::SetLastError(scm.managerError);
        return nullptr;
    }
    ++scm.openHandles;
    return kManager;
}

SC_HANDLE WINAPI OpenService(SC_HANDLE manager, LPCWSTR name, DWORD access) {
    scm.calls.push_back("OpenService " + std::string(name, name + wcslen(name)));
    scm.serviceAccess.emplace_back(name, access);
    const auto found = scm.services.find(name);
    if (manager != kManager || found == scm.services.end()) {
        ::SetLastError(manager != kManager ? ERROR_INVALID_HANDLE : ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    ++scm.openHandles;
    return reinterpret_cast<SC_HANDLE>(&found->second);
}

BOOL WINAPI Query(SC_HANDLE handle, LPSERVICE_STATUS status) {
    scm.calls.push_back("Query");
    Service& service = ServiceOf(handle);
    const int query = service.queries++;
    if (service.queryFailsFrom >= 0 && query >= service.queryFailsFrom) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (service.steps != nullptr)
        Advance(service, *service.steps);
    *status = SERVICE_STATUS{};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = service.state;
    status->dwWaitHint = service.waitHint;
    status->dwWin32ExitCode = service.exitCode;
    return TRUE;
}

BOOL WINAPI Control(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
    scm.calls.push_back("Control " + std::to_string(control));
    Service& service = ServiceOf(handle);
    if (service.controlError != 0) {
        ::SetLastError(service.controlError);
        return FALSE;
    }
    if (!ActiveDependents(service).empty()) {
        ::SetLastError(ERROR_DEPENDENT_SERVICES_RUNNING);
        return FALSE;
    }
    scm.controlOrder.push_back("stop " + NameOf(handle));
    ++service.stops;
    service.steps = &service.afterStop;
    service.state = SERVICE_STOP_PENDING;
    *status = SERVICE_STATUS{};
    status->dwCurrentState = service.state;
    return TRUE;
}

BOOL WINAPI Start(SC_HANDLE handle, DWORD, LPCWSTR*) {
    scm.calls.push_back("Start");
    Service& service = ServiceOf(handle);
    if (service.startError != 0) {
        ::SetLastError(service.startError);
        return FALSE;
    }
    if (service.state != SERVICE_STOPPED) {
        ::SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    scm.controlOrder.push_back("start " + NameOf(handle));
    ++service.starts;
    service.steps = &service.afterStart;
    service.state = SERVICE_START_PENDING;
    return TRUE;
}

// Fills the array with the active dependents, their names after it, as the
// real call does.
BOOL WINAPI EnumDependents(SC_HANDLE handle,
                           DWORD,
                           LPENUM_SERVICE_STATUSW buffer,
                           DWORD size,
                           LPDWORD needed,
                           LPDWORD count) {
    scm.calls.push_back("EnumDependents");
    const std::vector<const std::wstring*> active = ActiveDependents(ServiceOf(handle));
    DWORD bytes = static_cast<DWORD>(active.size() * sizeof(ENUM_SERVICE_STATUSW));
    for (const std::wstring* name : active)
        bytes += static_cast<DWORD>((name->size() + 1) * sizeof(wchar_t));
    *needed = bytes;
    *count = 0;
    if (size < bytes) {
        ::SetLastError(ERROR_MORE_DATA);
        return active.empty() ? TRUE : FALSE;
    }
    auto* text = reinterpret_cast<wchar_t*>(buffer + active.size());
    for (const std::wstring* name : active) {
        buffer[*count] = ENUM_SERVICE_STATUSW{};
        buffer[*count].lpServiceName = wcscpy(text, name->c_str());
        buffer[*count].ServiceStatus.dwCurrentState = scm.services[*name].state;
        text += name->size() + 1;
        ++*count;
    }
    return TRUE;
}

BOOL WINAPI Close(SC_HANDLE) {
    scm.calls.push_back("Close");
    --scm.openHandles;
    return TRUE;
}

void WINAPI SleepFake(DWORD milliseconds) {
    scm.calls.push_back("Sleep " + std::to_string(milliseconds));
    scm.sleeps.push_back(milliseconds);
}

void WINAPI Debug(LPCWSTR text) {
    scm.debugStrings.push_back(text);
}

}  // namespace

void Install() {
    scm = State{};
    win32.OpenSCManagerW = OpenManager;
    win32.OpenServiceW = OpenService;
    win32.QueryServiceStatus = Query;
    win32.ControlService = Control;
    win32.StartServiceW = Start;
    win32.CloseServiceHandle = Close;
    win32.EnumDependentServicesW = EnumDependents;
    win32.Sleep = SleepFake;
    win32.OutputDebugStringW = Debug;
}

}  // namespace fake_services
