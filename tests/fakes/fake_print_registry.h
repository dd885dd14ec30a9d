// The spooler's registry for tests that must not touch the prefix's own: the
// real registry functions, with the spooler's key (SPOOLER_PRINT_KEY below
// HKLM) moved to a scratch key of the current user, which is deleted again on
// destruction. Keys and values are written with the real registry calls.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

class FakePrintRegistry {
  public:
    // Points win32.RegOpenKeyExW at the scratch key (restore the table with
    // ScopedWin32Fakes).
    FakePrintRegistry();
    ~FakePrintRegistry();
    FakePrintRegistry(const FakePrintRegistry&) = delete;
    FakePrintRegistry& operator=(const FakePrintRegistry&) = delete;

    // Environments\<environment>\Drivers\Version-3\<name> with "Version" 3,
    // "Driver", "Configuration File", "Data File" (bare names), "Help File"
    // empty, "Dependent Files" and "Monitor".
    void AddDriver(const std::wstring& environment,
                   const std::wstring& name,
                   const std::vector<std::wstring>& files,
                   const std::vector<std::wstring>& dependentFiles,
                   const std::wstring& monitor = {});
    // Printers\<name> with "Printer Driver" and "Print Processor".
    void AddPrinter(const std::wstring& name,
                    const std::wstring& driver,
                    const std::wstring& printProcessor = L"winprint");
    // Monitors\<name>, and Environments\<environment>\Print Processors\<name>,
    // with "Driver".
    void AddMonitor(const std::wstring& name, const std::wstring& dll);
    void AddPrintProcessor(const std::wstring& environment,
                           const std::wstring& name,
                           const std::wstring& dll);
    // Whether the key below the spooler's key exists.
    bool Exists(const std::wstring& below) const;

  private:
    void SetText(const std::wstring& key,
                 const wchar_t* value,
                 DWORD type,
                 const std::wstring& text);
};
