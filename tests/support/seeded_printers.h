// Printer drivers and printers created through the spooler of the private
// prefix, for tests that remove them again, and removed on destruction
// whatever the test did.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

// A printer driver of Windows' own environment (NativeSeedEnvironment), or of
// `environment` when given, version 3. Its files are
// written into the spooler's driver directory first and the spooler copies
// them into the version folder (APD_COPY_NEW_FILES). Destruction removes the
// driver entry and every copy of the files it wrote that is still there.
class SeededPrinterDriver {
  public:
    // File names are bare names; the dependent files may be empty.
    SeededPrinterDriver(const std::wstring& name,
                        const std::wstring& driverFile,
                        const std::wstring& configFile,
                        const std::wstring& dataFile,
                        const std::vector<std::wstring>& dependentFiles,
                        const wchar_t* environment = nullptr);
    ~SeededPrinterDriver();
    SeededPrinterDriver(const SeededPrinterDriver&) = delete;
    SeededPrinterDriver& operator=(const SeededPrinterDriver&) = delete;

    // The spooler accepted the driver.
    bool installed() const { return installed_; }
    // The spooler's driver directory, with a trailing backslash.
    const std::wstring& directory() const { return directory_; }
    // The spooler's level-6 record of the driver, or null when it does not
    // list it. Valid until the next call or destruction.
    const DRIVER_INFO_6W* Info();

  private:
    std::wstring name_;
    wchar_t* environment_;
    std::wstring directory_;
    std::vector<std::wstring> files_;
    std::vector<BYTE> infoBuffer_;
    bool installed_ = false;
};

// A local printer on port "FILE:" using the named driver; deleted on
// destruction when it still exists. With `inThisProcess` it is added by this
// process itself, as a printer of a driver of this process's environment
// must be under Wine.
class SeededPrinter {
  public:
    SeededPrinter(const std::wstring& name,
                  const std::wstring& driverName,
                  bool inThisProcess = false);
    ~SeededPrinter();
    SeededPrinter(const SeededPrinter&) = delete;
    SeededPrinter& operator=(const SeededPrinter&) = delete;
    bool added() const { return added_; }

  private:
    std::wstring name_;
    bool added_ = false;
};

// The spooler opens a printer of this name.
bool PrinterExists(const std::wstring& name);
