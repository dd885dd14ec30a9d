// Printers and drivers put into the private prefix's real spooler, for tests
// and the demo machine. Drivers are added for the environment of the running
// process (what its own EnumPrinterDrivers lists), with small stand-in files
// placed in its driver directory.
#pragma once

#include <string>
#include <vector>

// Adds a level-3 driver named `name`. True on success or when it exists.
bool AddSeedDriver(const std::wstring& name);
// Adds a printer on port "FILE:" using the installed driver `driver`.
bool AddSeedPrinter(const std::wstring& name, const std::wstring& driver);
// Deletes the printer; true when it is gone.
bool RemoveSeedPrinter(const std::wstring& name);
// Deletes the driver from the spooler and its stand-in files.
bool RemoveSeedDriver(const std::wstring& name);

// What one test added; removed again (printers first) when it goes out of
// scope.
class SeededSpooler {
  public:
    SeededSpooler() = default;
    ~SeededSpooler();
    SeededSpooler(const SeededSpooler&) = delete;
    SeededSpooler& operator=(const SeededSpooler&) = delete;

    bool AddDriver(const std::wstring& name);
    bool AddPrinterUsing(const std::wstring& name, const std::wstring& driver);
    bool RemovePrinter(const std::wstring& name);

  private:
    std::vector<std::wstring> printers_;
    std::vector<std::wstring> drivers_;
};

// A tag unique to this process and call, for names no other test uses.
std::wstring UniqueTag();
