#include "support/test_service.h"

#include <string>
#include <vector>

#include "support/test_support.h"

RegisteredPcaSvc::RegisteredPcaSvc() {
    manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager_ == nullptr)
        return;
    const std::wstring path = L"\"" + ExecutableFolder() + L"stand_in_service.exe\" PcaSvc";
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

namespace {

constexpr wchar_t kStandInCounts[] = L"SOFTWARE\\KAVRO Tests\\Spooler";

void ForgetStandInStarts() {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kStandInCounts, KEY_WOW64_64KEY, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KAVRO Tests", KEY_WOW64_64KEY, 0);
}

}  // namespace

StandInSpooler::StandInSpooler(const std::wstring& crashKey) {
    manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    service_ = manager_ ? ::OpenServiceW(manager_, L"Spooler", SERVICE_ALL_ACCESS) : nullptr;
    if (service_ == nullptr || !StopAndWait())
        return;
    DWORD needed = 0;
    ::QueryServiceConfigW(service_, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(service_, config, static_cast<DWORD>(buffer.size()), &needed))
        return;
    const std::wstring saved = config->lpBinaryPathName;
    const std::wstring standIn =
        L"\"" + ExecutableFolder() + L"stand_in_service.exe\" Spooler \"" + crashKey + L"\"";
    if (::ChangeServiceConfigW(service_, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                               standIn.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr)) {
        savedProgram_ = saved;
        ForgetStandInStarts();
    }
}

DWORD StandInSpooler::Starts() const {
    DWORD starts = 0;
    DWORD size = sizeof starts;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStandInCounts, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return 0;
    if (::RegQueryValueExW(key, L"Starts", nullptr, nullptr, reinterpret_cast<BYTE*>(&starts),
                           &size) != ERROR_SUCCESS)
        starts = 0;
    ::RegCloseKey(key);
    return starts;
}

StandInSpooler::~StandInSpooler() {
    ForgetStandInStarts();
    if (installed()) {
        StopAndWait();
        ::ChangeServiceConfigW(service_, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                               savedProgram_.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr);
    }
    if (service_ != nullptr)
        ::CloseServiceHandle(service_);
    if (manager_ != nullptr)
        ::CloseServiceHandle(manager_);
}

bool StandInSpooler::StopAndWait() const {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service_, &status))
        return false;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    ::ControlService(service_, SERVICE_CONTROL_STOP, &status);
    for (int poll = 0; poll < 500; ++poll) {
        if (::QueryServiceStatus(service_, &status) && status.dwCurrentState == SERVICE_STOPPED)
            return true;
        ::Sleep(20);
    }
    return false;
}

std::wstring X64DriverKey(const std::wstring& driver) {
    return L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Drivers\\"
           L"Version-3\\" +
           driver;
}

bool MachineKeyExists(const std::wstring& key) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &opened) !=
        ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(opened);
    return true;
}
