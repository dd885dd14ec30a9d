#include "support/test_service.h"

#include <string>

#include "support/test_support.h"

RegisteredPcaSvc::RegisteredPcaSvc() {
    manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager_ == nullptr)
        return;
    const std::wstring path = L"\"" + ExecutableFolder() + L"pca_service.exe\"";
    service_ = ::CreateServiceW(manager_, L"PcaSvc", L"Program Compatibility Assistant (test)",
                                SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                SERVICE_ERROR_IGNORE, path.c_str(), nullptr, nullptr, nullptr,
                                nullptr, nullptr);
}

RegisteredPcaSvc::~RegisteredPcaSvc() {
    if (service_ != nullptr) {
        if (State() != SERVICE_STOPPED) {
            Stop();
            WaitForState(SERVICE_STOPPED);
        }
        ::DeleteService(service_);
        ::CloseServiceHandle(service_);
    }
    if (manager_ != nullptr)
        ::CloseServiceHandle(manager_);
}

bool RegisteredPcaSvc::Start() {
    return ::StartServiceW(service_, 0, nullptr) != FALSE;
}

bool RegisteredPcaSvc::Stop() {
    SERVICE_STATUS status{};
    return ::ControlService(service_, SERVICE_CONTROL_STOP, &status) != FALSE;
}

DWORD RegisteredPcaSvc::State() const {
    SERVICE_STATUS status{};
    return ::QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
}

bool RegisteredPcaSvc::WaitForState(DWORD state, DWORD limitMs) const {
    for (DWORD waited = 0; waited < limitMs; waited += 20) {
        if (State() == state)
            return true;
        ::Sleep(20);
    }
    return State() == state;
}
