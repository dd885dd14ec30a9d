// Printers and drivers put into the private prefix's real spooler, for tests
// and the demo machine. Drivers are added for the environment of Windows
// itself (NativeSeedEnvironment: x64 also from a 32-bit process), with small
// stand-in files placed in its driver directory: <stem>drv.dll, <stem>ui.dll
// and <stem>.ppd.
#pragma once

#include <string>
#include <vector>

// Adds a level-3 driver named `name`. True on success or when it exists.
bool AddSeedDriver(const std::wstring& name);
// Adds a printer on port "FILE:" using the installed driver `driver`; in a
// 32-bit process on x64 Windows through the 64-bit demo_machine.
bool AddSeedPrinter(const std::wstring& name, const std::wstring& driver);
// The same, always added by this process itself (under Wine, only printers
// of drivers of this process's own environment).
bool AddSeedPrinterInThisProcess(const std::wstring& name, const std::wstring& driver);
// Deletes the printer; true when it is gone.
bool RemoveSeedPrinter(const std::wstring& name);
// Deletes the driver from the spooler and its stand-in files.
bool RemoveSeedDriver(const std::wstring& name);
// The stem of the driver's stand-in file names, derived from its name.
std::wstring SeedFileStem(const std::wstring& driver);

// A package of Windows' own driver store for the driver, as setup leaves it:
// <repository>\<stem>.inf_amd64_<hash>\ (x86 on 32-bit Windows) with an INF
// whose [Strings] name the driver (in the ANSI code page for an ASCII name,
// else in [Strings.0804] of a UTF-16 LE INF), and a copy of the driver
// module. The folder has a trailing backslash.
std::wstring SeedPackageFolder(const std::wstring& driver);
bool AddSeedPackage(const std::wstring& driver);
// The bytes of an INF that names the driver, as its vendor writes it: for an
// ASCII name an ANSI INF whose [Strings] name it; for any other name a UTF-16
// LE INF whose model is a token with an English value in [Strings] and the
// name in [Strings.0804].
std::string PackageInfText(const std::wstring& driver);
// Deletes the package folder and everything in it.
void RemoveSeedPackage(const std::wstring& driver);

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
