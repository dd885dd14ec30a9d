#include "fakes/fake_print_registry.h"

#include <gtest/gtest.h>

#include "engine/spooler_registry.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t kScratchKey[] = L"Software\\KavroTests\\Print";

LONG WINAPI RedirectedOpen(HKEY parent, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
    const std::wstring print = SPOOLER_PRINT_KEY;
    const std::wstring wanted = path != nullptr ? path : L"";
    if (parent == HKEY_LOCAL_MACHINE &&
        _wcsnicmp(wanted.c_str(), print.c_str(), print.size()) == 0) {
        const std::wstring moved = kScratchKey + wanted.substr(print.size());
        return ::RegOpenKeyExW(HKEY_CURRENT_USER, moved.c_str(), options, access, key);
    }
    return ::RegOpenKeyExW(parent, path, options, access, key);
}

}  // namespace

FakePrintRegistry::FakePrintRegistry() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    win32.RegOpenKeyExW = RedirectedOpen;
}

FakePrintRegistry::~FakePrintRegistry() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
}

void FakePrintRegistry::SetText(const std::wstring& key,
                                const wchar_t* value,
                                DWORD type,
                                const std::wstring& text) {
    const std::wstring path = std::wstring(kScratchKey) + L"\\" + key;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), value, type, text.c_str(),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void FakePrintRegistry::AddDriver(const std::wstring& environment,
                                  const std::wstring& name,
                                  const std::vector<std::wstring>& files,
                                  const std::vector<std::wstring>& dependentFiles,
                                  const std::wstring& monitor) {
    const std::wstring key = L"Environments\\" + environment + L"\\Drivers\\Version-3\\" + name;
    const wchar_t* fileValues[] = {L"Driver", L"Configuration File", L"Data File", L"Help File"};
    for (size_t i = 0; i < 4; ++i)
        SetText(key, fileValues[i], REG_SZ, i < files.size() ? files[i] : L"");
    const std::wstring dependents = MultiString(dependentFiles);
    SetText(key, L"Dependent Files", REG_MULTI_SZ, dependents.substr(0, dependents.size() - 1));
    SetText(key, L"Monitor", REG_SZ, monitor);
    const DWORD version = 3;
    const std::wstring path = std::wstring(kScratchKey) + L"\\" + key;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), L"Version", REG_DWORD, &version,
                                sizeof version),
              ERROR_SUCCESS);
}

void FakePrintRegistry::AddPrinter(const std::wstring& name,
                                   const std::wstring& driver,
                                   const std::wstring& printProcessor) {
    SetText(L"Printers\\" + name, L"Printer Driver", REG_SZ, driver);
    SetText(L"Printers\\" + name, L"Print Processor", REG_SZ, printProcessor);
}

void FakePrintRegistry::AddMonitor(const std::wstring& name, const std::wstring& dll) {
    SetText(L"Monitors\\" + name, L"Driver", REG_SZ, dll);
}

void FakePrintRegistry::AddPrintProcessor(const std::wstring& environment,
                                          const std::wstring& name,
                                          const std::wstring& dll) {
    SetText(L"Environments\\" + environment + L"\\Print Processors\\" + name, L"Driver", REG_SZ,
            dll);
}

bool FakePrintRegistry::Exists(const std::wstring& below) const {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kScratchKey) + L"\\" + below;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}
