#include "support/seeded_printers.h"

#include "support/spooler_seed.h"
#include "support/test_support.h"

namespace {

std::wstring DriverDirectory(wchar_t* environment) {
    wchar_t directory[MAX_PATH] = {};
    DWORD needed = 0;
    if (!::GetPrinterDriverDirectoryW(nullptr, environment, 1, reinterpret_cast<LPBYTE>(directory),
                                      sizeof directory, &needed)) {
        return {};
    }
    return std::wstring(directory) + L"\\";
}

}  // namespace

SeededPrinterDriver::SeededPrinterDriver(const std::wstring& name,
                                         const std::wstring& driverFile,
                                         const std::wstring& configFile,
                                         const std::wstring& dataFile,
                                         const std::vector<std::wstring>& dependentFiles,
                                         const wchar_t* environment)
    : name_(name),
      environment_(environment ? const_cast<wchar_t*>(environment) : NativeSeedEnvironment()),
      directory_(DriverDirectory(environment_)) {
    if (directory_.empty())
        return;
    files_ = {driverFile, configFile, dataFile};
    files_.insert(files_.end(), dependentFiles.begin(), dependentFiles.end());
    for (const std::wstring& file : files_)
        WriteBytes(directory_ + file, "seeded driver file " + Utf8(file));

    std::wstring driverPath = directory_ + driverFile;
    std::wstring configPath = directory_ + configFile;
    std::wstring dataPath = directory_ + dataFile;
    std::vector<std::wstring> dependentPaths;
    for (const std::wstring& file : dependentFiles)
        dependentPaths.push_back(directory_ + file);
    std::wstring dependents = MultiString(dependentPaths);

    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    info.pEnvironment = environment_;
    info.pName = name_.data();
    info.pDriverPath = driverPath.data();
    info.pConfigFile = configPath.data();
    info.pDataFile = dataPath.data();
    info.pDependentFiles = dependents.data();
    installed_ = ::AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&info),
                                       APD_COPY_NEW_FILES) != FALSE;
}

SeededPrinterDriver::~SeededPrinterDriver() {
    if (installed_) {
        // Flags 0: Wine refuses every other deletion flag.
        ::DeletePrinterDriverExW(nullptr, environment_, name_.data(), 0, 0);
    }
    for (const std::wstring& file : files_) {
        ::DeleteFileW((directory_ + file).c_str());
        ::DeleteFileW((directory_ + L"3\\" + file).c_str());
    }
}

const DRIVER_INFO_6W* SeededPrinterDriver::Info() {
    DWORD needed = 0;
    DWORD count = 0;
    ::EnumPrinterDriversW(nullptr, environment_, 6, nullptr, 0, &needed, &count);
    infoBuffer_.assign(needed, 0);
    if (needed == 0 || !::EnumPrinterDriversW(nullptr, environment_, 6, infoBuffer_.data(), needed,
                                              &needed, &count)) {
        return nullptr;
    }
    const auto* drivers = reinterpret_cast<const DRIVER_INFO_6W*>(infoBuffer_.data());
    for (DWORD i = 0; i < count; ++i) {
        if (drivers[i].pName && name_ == drivers[i].pName)
            return &drivers[i];
    }
    return nullptr;
}

SeededPrinter::SeededPrinter(const std::wstring& name,
                             const std::wstring& driverName,
                             bool inThisProcess)
    : name_(name),
      added_(inThisProcess ? AddSeedPrinterInThisProcess(name, driverName)
                           : AddSeedPrinter(name, driverName)) {}

SeededPrinter::~SeededPrinter() {
    RemoveSeedPrinter(name_);
}

bool PrinterExists(const std::wstring& name) {
    std::wstring text = name;
    HANDLE printer = nullptr;
    if (!::OpenPrinterW(text.data(), &printer, nullptr))
        return false;
    ::ClosePrinter(printer);
    return true;
}
