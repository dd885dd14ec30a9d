#include "support/spooler_seed.h"

#include <algorithm>
#include <atomic>

#include <windows.h>
#include <winspool.h>

#include "support/test_support.h"

namespace {

std::wstring SeedDriverDirectory() {
    wchar_t folder[MAX_PATH] = {};
    DWORD needed = 0;
    if (!::GetPrinterDriverDirectoryW(nullptr, NativeSeedEnvironment(), 1,
                                      reinterpret_cast<BYTE*>(folder), sizeof folder, &needed)) {
        return {};
    }
    return std::wstring(folder) + L"\\";
}

const wchar_t* const kFileSuffixes[] = {L"drv.dll", L"ui.dll", L".ppd"};

}  // namespace

// File names derived from the driver name, so that removal finds them again.
std::wstring SeedFileStem(const std::wstring& driver) {
    unsigned hash = 2166136261u;
    for (wchar_t c : driver)
        hash = (hash ^ static_cast<unsigned>(c)) * 16777619u;
    wchar_t text[32] = {};
    swprintf(text, 32, L"kvseed%08x", hash);
    return text;
}

std::wstring SeedPackageFolder(const std::wstring& driver) {
    const bool x64 = sizeof(void*) == 8 || NativeSeedEnvironment() != nullptr;
    return NativeSystem32() + L"\\DriverStore\\FileRepository\\" + SeedFileStem(driver) +
           (x64 ? L".inf_amd64_" : L".inf_x86_") + L"5e1d0c2b9a874f36\\";
}

std::string PackageInfText(const std::wstring& driver) {
    const bool ascii =
        std::all_of(driver.begin(), driver.end(), [](wchar_t c) { return c < 0x80; });
    if (ascii) {
        return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n\r\n[Strings]\r\n"
               "DriverName=\"" +
               Ansi(driver) + "\"\r\n";
    }
    const std::wstring stem = SeedFileStem(driver);
    return Utf16LeFile(
        L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\nProvider=%KAVRO%\r\n"
        L"[Manufacturer]\r\n%KAVRO% = KAVRO, NTamd64, NTx86\r\n"
        L"[KAVRO.NTamd64]\r\n%DriverName% = " +
        stem + L", USBPRINT\\" + stem +
        L"\r\n"
        L"[KAVRO.NTx86]\r\n%DriverName% = " +
        stem + L", USBPRINT\\" + stem +
        L"\r\n"
        L"[" +
        stem + L"]\r\nCopyFiles = @" + stem + L"drv.dll, @" + stem + L"ui.dll, @" + stem +
        L".ppd\r\nDriverFile = " + stem +
        L"drv.dll\r\n"
        L"[Strings]\r\nKAVRO = \"KAVRO\"\r\nDriverName = \"KAVRO printer driver " +
        stem + L"\"\r\n[Strings.0804]\r\nKAVRO = \"\u5C9A\u62D3\"\r\nDriverName = \"" + driver +
        L"\"\r\n");
}

bool AddSeedPackage(const std::wstring& driver) {
    const std::wstring folder = SeedPackageFolder(driver);
    const std::wstring stem = SeedFileStem(driver);
    WriteBytes(folder + stem + L".inf", PackageInfText(driver));
    WriteBytes(folder + stem + L"drv.dll", "packaged driver file");
    return FileExists(folder + stem + L".inf");
}

void RemoveSeedPackage(const std::wstring& driver) {
    RemoveTree(SeedPackageFolder(driver));
}

std::wstring UniqueTag() {
    static std::atomic<int> counter{0};
    return std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(++counter);
}

bool AddSeedDriver(const std::wstring& name) {
    const std::wstring folder = SeedDriverDirectory();
    if (folder.empty())
        return false;
    const std::wstring stem = SeedFileStem(name);
    std::wstring paths[3];
    for (int i = 0; i < 3; ++i) {
        paths[i] = folder + stem + kFileSuffixes[i];
        WriteBytes(paths[i], "stand-in driver file");
    }
    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    info.pEnvironment = NativeSeedEnvironment();
    info.pName = const_cast<wchar_t*>(name.c_str());
    info.pDriverPath = paths[0].data();
    info.pConfigFile = paths[1].data();
    info.pDataFile = paths[2].data();
    if (::AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&info), APD_COPY_NEW_FILES)) {
        return true;
    }
    return ::GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

bool AddSeedPrinter(const std::wstring& name, const std::wstring& driver) {
    // Wine's spooler, run inside a 32-bit process, accepts only printers of
    // that process's own drivers; the 64-bit seeder adds those of x64 drivers.
    if (NativeSeedEnvironment() != nullptr) {
        return RunProgram(Native64Program(L"demo_machine.exe"),
                          L"add-printer \"" + name + L"\" \"" + driver + L"\"") == 0;
    }
    return AddSeedPrinterInThisProcess(name, driver);
}

bool AddSeedPrinterInThisProcess(const std::wstring& name, const std::wstring& driver) {
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<wchar_t*>(name.c_str());
    info.pDriverName = const_cast<wchar_t*>(driver.c_str());
    info.pPortName = const_cast<wchar_t*>(L"FILE:");
    info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t*>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    const HANDLE printer = ::AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer == nullptr)
        return false;
    ::ClosePrinter(printer);
    return true;
}

bool RemoveSeedPrinter(const std::wstring& name) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!::OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &printer, &defaults)) {
        return ::GetLastError() == ERROR_INVALID_PRINTER_NAME;
    }
    const bool deleted = ::DeletePrinter(printer) != FALSE;
    ::ClosePrinter(printer);
    return deleted;
}

bool RemoveSeedDriver(const std::wstring& name) {
    const bool deleted =
        ::DeletePrinterDriverExW(nullptr, NativeSeedEnvironment(),
                                 const_cast<wchar_t*>(name.c_str()), 0, 0) != FALSE;
    const std::wstring folder = SeedDriverDirectory();
    const std::wstring stem = SeedFileStem(name);
    for (const wchar_t* suffix : kFileSuffixes) {
        ::DeleteFileW((folder + stem + suffix).c_str());
        ::DeleteFileW((folder + L"3\\" + stem + suffix).c_str());
    }
    return deleted;
}

SeededSpooler::~SeededSpooler() {
    for (auto it = printers_.rbegin(); it != printers_.rend(); ++it)
        RemoveSeedPrinter(*it);
    for (auto it = drivers_.rbegin(); it != drivers_.rend(); ++it)
        RemoveSeedDriver(*it);
}

bool SeededSpooler::AddDriver(const std::wstring& name) {
    drivers_.push_back(name);
    return AddSeedDriver(name);
}

bool SeededSpooler::AddPrinterUsing(const std::wstring& name, const std::wstring& driver) {
    printers_.push_back(name);
    return AddSeedPrinter(name, driver);
}

bool SeededSpooler::RemovePrinter(const std::wstring& name) {
    printers_.erase(std::remove(printers_.begin(), printers_.end(), name), printers_.end());
    return RemoveSeedPrinter(name);
}
