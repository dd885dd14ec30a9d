// Benchmark of the driver package scan that a removal runs (ScanDriverPackages,
// as PlanRemoval calls it): seeds a Windows folder shaped like a Windows 10
// x64 PC's, times the scan against reading every candidate file once, and
// checks that the scan found exactly the seeded matches, so that it cannot
// pass while scanning nothing.
//
//   bench_driver_store seed <root> <driver name>
//   bench_driver_store scan <root> <driver name> <repeats>
//   bench_driver_store scan-set <root> <driver name> <repeats>
//
// <root> is a folder such as C:\kbench; its "windows" sub-folder stands in for
// the Windows folder. The store and the inf folder are seeded where the
// engine's own lookups (DriverStoreRepository, OemInfFolder) find them below
// it, Sysnative included in a 32-bit process on 64-bit Windows. "seed" and
// "scan" print key=value lines for bench/driver_store_scan.sh; "scan" exits
// with 3, naming the differences, when the scan's matches are not the seeded
// ones. "scan-set" times the scan as a removal of a set takes it (the
// candidates of every name read in one pass, then each name's verdicts)
// for ten names against the same for the driver alone, and exits with 3
// when either misses the seeded matches or a name of the ten matches nothing.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/driver_packages.h"
#include "engine/file_helpers.h"
#include "engine/removal_1_detect.h"

namespace {

// --- The PC ----------------------------------------------------------------

// The drivers that stay installed while the bench's driver is removed: the
// removal scans for these names too.
const std::vector<std::wstring> kRemainingDrivers = {
    L"Microsoft Print To PDF",
    L"Microsoft XPS Document Writer v4",
    L"Microsoft Shared Fax Driver",
    L"Microsoft enhanced Point and Print compatibility driver",
    L"Microsoft Software Printer Driver",
    L"Microsoft PS Class Driver",
    L"Microsoft PCL6 Class Driver",
    L"Remote Desktop Easy Print",
    L"Generic / Text Only",
    L"Send To Microsoft OneNote 16 Driver",
    L"HP Universal Printing PCL 6",
    L"Canon Generic Plus UFR II",
    L"Brother MFC-L2710DW series",
    L"EPSON ET-2750 Series",
    L"Xerox Global Print Driver PCL6",
    L"RICOH PCL6 UniversalDriver V4.28",
    L"Lexmark Universal v2 XL",
    L"Kyocera TASKalfa 3253ci KX",
    L"Lumen Universal PCL6",
    L"KBench LaserJet 7788 PCL6 Fax",
};

constexpr int kWindowsPackages = 900;  // nine in ten packages are Windows' own
// The store folders that the scan passes over unread: Windows' own, and
// Windows Update's newer version of one of them.
constexpr size_t kWindowsFolders = kWindowsPackages + 1;
constexpr size_t kLargestInf = 8u << 20;

struct DeviceClass {
    const char* name;
    const char* guid;
};
const DeviceClass kPrinter = {"Printer", "{4D36E979-E325-11CE-BFC1-08002BE10318}"};
const DeviceClass kOtherClasses[] = {
    {"Display", "{4d36e968-e325-11ce-bfc1-08002be10318}"},
    {"MEDIA", "{4d36e96c-e325-11ce-bfc1-08002be10318}"},
    {"Net", "{4d36e972-e325-11ce-bfc1-08002be10318}"},
    {"System", "{4d36e97d-e325-11ce-bfc1-08002be10318}"},
    {"USB", "{36fc9e60-c465-11cf-8056-444553540000}"},
    {"Bluetooth", "{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}"},
    {"Image", "{6bdd1fc6-810f-11d0-bec7-08002be2092f}"},
    {"HIDClass", "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"},
};

// One driver package: its folder in the store, and its INF published in the
// inf folder under its own name (Windows') or as oemN.inf (third party).
struct BenchPackage {
    std::string inf;        // the INF's file name
    std::string folder;     // the store folder's name
    std::string published;  // its name in the inf folder
    DeviceClass deviceClass;
    size_t infBytes = 0;
    size_t payloadBytes = 0;
    bool subFolder = false;           // an amd64\ folder with a payload file
    std::vector<std::string> models;  // model names the INF lists
    bool own = false;
    bool utf16 = false;                // saved as UTF-16 LE (with its byte-order mark), else ANSI
    bool microsoft = false;            // its [Version] Provider is Microsoft, through [Strings]
    bool windowsUpdate = false;        // a newer version of one of Windows' own, as oemN.inf
    bool namesDriver = false;          // the INF names the removed driver
    std::wstring expectedKeptBecause;  // the scan's verdict when it names it
};

uint32_t rngState = 12345;
uint32_t Next() {
    rngState = rngState * 1664525u + 1013904223u;
    return rngState >> 8;
}

size_t Between(size_t low, size_t high) {
    return low + Next() % (high - low + 1);
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string FolderName(const std::string& inf) {
    char hash[24];
    snprintf(hash, sizeof hash, "%08x%08x", Next(), Next());
    return inf + "_amd64_" + hash;
}

// Windows' own package i: mostly small INFs, a few large ones; printer
// packages among them list inbox models, two of them the removed driver
// (Windows' own lists are never read, so these must not match).
BenchPackage WindowsPackage(int i, const std::string& driverName) {
    static const char* stems[] = {"prnms",   "ntprint",  "c_display", "netrtwlane", "hdaudio",
                                  "usbport", "machine",  "keyboard",  "bth",        "input",
                                  "disk",    "wdmaudio", "battery",   "acpi",       "cdrom"};
    BenchPackage package;
    const char* stem = stems[i % 15];
    package.inf = stem + std::to_string(i / 15) + ".inf";
    package.folder = FolderName(package.inf);
    package.published = package.inf;
    package.own = true;
    package.utf16 = true;
    package.microsoft = true;
    const bool printer = i % 15 < 2;
    package.deviceClass = printer ? kPrinter : kOtherClasses[i % 8];
    const uint32_t size = Next() % 100;
    package.infBytes = size < 70   ? Between(2048, 16384)
                       : size < 95 ? Between(16384, 65536)
                                   : Between(65536, 524288);
    package.payloadBytes = Between(8192, 131072);
    package.subFolder = i % 3 == 0;
    if (printer) {
        package.models = {Narrow(kRemainingDrivers[i % 10])};
        if (i == 15 || i == 301)
            package.models.push_back(driverName);
    }
    return package;
}

BenchPackage ThirdPartyPackage(const std::string& inf,
                               const DeviceClass& deviceClass,
                               size_t infBytes,
                               std::vector<std::string> models) {
    BenchPackage package;
    package.inf = inf;
    package.folder = FolderName(inf);
    package.deviceClass = deviceClass;
    package.infBytes = infBytes;
    package.payloadBytes = Between(65536, 1048576);
    package.subFolder = true;
    package.models = std::move(models);
    return package;
}

// The hundred and one third-party packages: three name the removed driver
// (its package, an older version of it kept by the store, and the fax model's
// package, which an installed driver still uses), 22 other printer packages
// (one of them the largest INF: a universal driver), 75 of other device
// classes, display and audio drivers with INFs of megabytes among them, and
// Windows Update's newer version of one of Windows' own, which names it too.
std::vector<BenchPackage> ThirdPartyPackages(const std::string& driverName) {
    std::vector<BenchPackage> packages;
    const std::string fax = Narrow(kRemainingDrivers.back());
    packages.push_back(ThirdPartyPackage("kbench7788.inf", kPrinter, 180000,
                                         {driverName, "KBench LaserJet 7788 PS"}));
    packages.push_back(ThirdPartyPackage("kbench7788.inf", kPrinter, 150000, {driverName}));
    packages.push_back(ThirdPartyPackage("kbenchfax.inf", kPrinter, 60000, {fax}));
    for (BenchPackage& package : packages)
        package.namesDriver = true;
    packages.back().expectedKeptBecause = L"used by driver " + kRemainingDrivers.back();
    packages.push_back(
        ThirdPartyPackage("lumenupd.inf", kPrinter, kLargestInf, {Narrow(kRemainingDrivers[18])}));
    for (int i = 0; i < 21; ++i) {
        packages.push_back(ThirdPartyPackage("vendorprn" + std::to_string(i) + ".inf", kPrinter,
                                             Between(20000, 600000),
                                             {Narrow(kRemainingDrivers[10 + i % 9])}));
    }
    const size_t classCounts[8] = {4, 6, 10, 30, 5, 5, 5, 10};
    const size_t largest[8] = {3000000, 4000000, 600000, 120000, 80000, 200000, 150000, 60000};
    for (int c = 0; c < 8; ++c) {
        for (size_t i = 0; i < classCounts[c]; ++i) {
            const std::string inf =
                std::string("vendordev") + std::to_string(c) + "_" + std::to_string(i) + ".inf";
            packages.push_back(
                ThirdPartyPackage(inf, kOtherClasses[c], Between(largest[c] / 10, largest[c]), {}));
        }
    }
    // Windows Update's newer ntprint0.inf (Windows publishes its own one
    // under that name): its store folder is named after that INF and so
    // passed over unread; its oem copy is read and kept as Windows' own.
    BenchPackage update = ThirdPartyPackage("ntprint0.inf", kPrinter, 90000,
                                            {Narrow(kRemainingDrivers[8]), driverName});
    update.microsoft = true;
    update.windowsUpdate = true;
    update.namesDriver = true;
    update.expectedKeptBecause = WINDOWS_OWN_PACKAGE;
    packages.push_back(update);
    // About half of the third-party INFs are UTF-16, as Microsoft prefers:
    // the removed driver's package (not its older version), the fax model's,
    // the largest, and every other one after them.
    for (size_t i = 0; i < packages.size(); ++i) {
        packages[i].published = "oem" + std::to_string(i) + ".inf";
        packages[i].utf16 = i != 1 && (i < 4 || i % 2 == 0 || packages[i].windowsUpdate);
    }
    return packages;
}

// The PC's packages, the same on every call: Windows' own first, in no
// particular order with the third-party ones in the store's enumeration.
std::vector<BenchPackage> Layout(const std::wstring& driverName) {
    rngState = 12345;
    std::vector<BenchPackage> packages;
    for (int i = 0; i < kWindowsPackages; ++i)
        packages.push_back(WindowsPackage(i, Narrow(driverName)));
    for (BenchPackage& package : ThirdPartyPackages(Narrow(driverName)))
        packages.push_back(std::move(package));
    return packages;
}

// --- INF and other file contents ------------------------------------------

std::string VersionSection(const BenchPackage& package) {
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=" +
           std::string(package.deviceClass.name) + "\r\nClassGuid=" + package.deviceClass.guid +
           "\r\nProvider=%" + (package.microsoft ? "MSFT" : "Vendor") +
           "%\r\nCatalogFile=" + package.inf.substr(0, package.inf.size() - 4) +
           ".cat\r\nDriverVer=06/21/2025,10.0.19041.1\r\nPnpLockdown=1\r\n\r\n";
}

std::string ModelsSection(const BenchPackage& package) {
    std::string text = "[Manufacturer]\r\n%Vendor%=Vendor,NTamd64\r\n\r\n[Vendor.NTamd64]\r\n";
    int id = 0;
    for (const std::string& model : package.models) {
        text += "\"" + model + "\" = Install_" + std::to_string(id) + ", USBPRINT\\Vendor" +
                std::to_string(4000 + id) + "\r\n";
        ++id;
    }
    return text;
}

// An install-section line of the INF's kind, for the bulk of its text.
std::string FillerLine(const BenchPackage& package, int n) {
    char line[200];
    const uint32_t r = Next();
    if (strcmp(package.deviceClass.name, kPrinter.name) == 0) {
        snprintf(line, sizeof line,
                 "\"Vendor Model %05u PCL6 Class Driver\" = DRV_%05u, "
                 "LPTENUM\\VendorModel%05u, Vendor_Model_%04X ; page %d\r\n",
                 r % 99999, n, r % 77777, r & 0xFFFF, n);
    } else {
        snprintf(line, sizeof line,
                 "%%DeviceDesc%u%% = Device_Install_%u, PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X\r\n",
                 r % 997, n % 64, r & 0xFFFF, (r >> 4) & 0xFFFF, r);
    }
    return line;
}

// The INF's file: its text (ASCII) as ANSI, or as UTF-16 LE with half as
// many characters, so that it has about `infBytes` bytes either way.
std::string InfText(const BenchPackage& package) {
    const size_t characters = package.utf16 ? package.infBytes / 2 : package.infBytes;
    std::string text = VersionSection(package) + ModelsSection(package) + "\r\n[Install]\r\n";
    for (int n = 0; text.size() + 200 < characters; ++n)
        text += FillerLine(package, n);
    text += std::string("\r\n[Strings]\r\n") +
            (package.microsoft ? "MSFT=\"Microsoft\"\r\n" : "Vendor=\"Vendor\"\r\n");
    for (const std::string& model : package.models)
        text += "Model" + std::to_string(&model - &package.models[0]) + "=\"" + model + "\"\r\n";
    text.append(characters > text.size() ? characters - text.size() : 0, ' ');
    if (!package.utf16)
        return text;
    std::string utf16 = "\xFF\xFE";
    for (const char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    return utf16;
}

// Binary content: a header with zero bytes, then pseudo-random bytes.
std::string BinaryBytes(size_t size, const char* header) {
    std::string bytes(header, 8);
    while (bytes.size() < size)
        bytes += static_cast<char>(Next() & 0xFF);
    return bytes;
}

// --- Seeding ---------------------------------------------------------------

std::wstring benchWindows;

BOOL WINAPI BenchWindowsFolder(HWND, LPWSTR path, int folder, BOOL) {
    if (folder != CSIDL_WINDOWS)
        return FALSE;
    wcscpy(path, benchWindows.c_str());
    return TRUE;
}

// Points the engine's Windows folder at <root>\windows and asks it where the
// store and the inf folder are.
bool BenchFolders(const std::wstring& root, std::wstring& repository, std::wstring& inf) {
    benchWindows = root + L"\\windows";
    win32.SHGetSpecialFolderPathW = BenchWindowsFolder;
    return DriverStoreRepository(repository) && OemInfFolder(inf);
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

void CreateFolders(const std::wstring& folder) {
    for (size_t i = 3; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == L'\\')
            ::CreateDirectoryW(folder.substr(0, i).c_str(), nullptr);
    }
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

// The package's store folder (INF, catalog, PNF, payload) and its published
// INF and PNF in the inf folder.
bool SeedPackage(const BenchPackage& package,
                 const std::wstring& repository,
                 const std::wstring& inf) {
    const std::wstring folder = repository + Wide(package.folder) + L"\\";
    const std::wstring stem = Wide(package.inf.substr(0, package.inf.size() - 4));
    const std::wstring publishedStem =
        Wide(package.published.substr(0, package.published.size() - 4));
    const std::string text = InfText(package);
    const std::string pnf = BinaryBytes(package.infBytes, "\x01\x01\x02\x00\x00\x00\x00\x00");
    CreateFolders(folder);
    bool ok = WriteFileBytes(folder + Wide(package.inf), text) &&
              WriteFileBytes(folder + stem + L".cat",
                             BinaryBytes(4096, "0\x82\x10\x00\x06\x09\x2a\x86")) &&
              WriteFileBytes(folder + stem + L".PNF", pnf) &&
              WriteFileBytes(folder + stem + L".sys",
                             BinaryBytes(package.payloadBytes, "MZ\x90\x00\x03\x00\x00\x00"));
    if (package.subFolder) {
        CreateFolders(folder + L"amd64\\");
        ok = ok &&
             WriteFileBytes(folder + L"amd64\\" + stem + L".dll",
                            BinaryBytes(package.payloadBytes / 2, "MZ\x90\x00\x03\x00\x00\x00"));
    }
    return ok && WriteFileBytes(inf + Wide(package.published), text) &&
           WriteFileBytes(inf + publishedStem + L".PNF", pnf);
}

// Folders of the inf folder that hold no INF: performance-counter and
// language files, as Windows has them.
bool SeedInfSubFolders(const std::wstring& inf) {
    bool ok = true;
    for (int i = 0; i < 20; ++i) {
        const std::wstring folder = inf + L"Counters" + std::to_wstring(i) + L"\\0000\\";
        CreateFolders(folder);
        ok = ok && WriteFileBytes(folder + L"perfc.ini", std::string(2048, 'c')) &&
             WriteFileBytes(folder + L"perfh.dat", BinaryBytes(4096, "PERF\x00\x00\x00\x00"));
    }
    return ok;
}

int Seed(const std::wstring& root, const std::wstring& driverName) {
    std::wstring repository, inf;
    if (!BenchFolders(root, repository, inf))
        return 1;
    CreateFolders(repository);
    CreateFolders(inf);
    int grepMatches = 0;
    for (const BenchPackage& package : Layout(driverName)) {
        if (!SeedPackage(package, repository, inf))
            return 1;
        // grep finds the name, in either encoding, in the store's INF and in
        // its published copy.
        const bool listed = std::any_of(
            package.models.begin(), package.models.end(),
            [&](const std::string& m) { return m.find(Narrow(driverName)) != std::string::npos; });
        grepMatches += listed ? 2 : 0;
    }
    if (!SeedInfSubFolders(inf))
        return 1;
    printf("repository=%ls\ninf=%ls\ngrep_matches=%d\n", repository.c_str(), inf.c_str(),
           grepMatches);
    return 0;
}

// --- The seeded matches ----------------------------------------------------

// "<path> goes" or "<path> stays: <reason>".
std::wstring Verdict(const std::wstring& path, const std::wstring& keptBecause) {
    return path + (keptBecause.empty() ? L" goes" : L" stays: " + keptBecause);
}

// The verdict on every match the scan should report, sorted.
std::vector<std::wstring> ExpectedMatches(const std::wstring& driverName,
                                          const std::wstring& repository,
                                          const std::wstring& inf) {
    std::vector<std::wstring> matches;
    for (const BenchPackage& package : Layout(driverName)) {
        if (package.own || !package.namesDriver)
            continue;
        matches.push_back(Verdict(inf + Wide(package.published), package.expectedKeptBecause));
        if (!package.windowsUpdate) {  // its store folder is passed over unread
            matches.push_back(
                Verdict(repository + Wide(package.folder) + L"\\", package.expectedKeptBecause));
        }
    }
    std::sort(matches.begin(), matches.end());
    return matches;
}

std::vector<std::wstring> FoundMatches(const PackageScan& scan) {
    std::vector<std::wstring> matches;
    for (const PackageMatch& match : scan.oemInfs)
        matches.push_back(Verdict(match.inf, match.keptBecause));
    for (const PackageMatch& match : scan.packages)
        matches.push_back(Verdict(match.folder, match.keptBecause));
    std::sort(matches.begin(), matches.end());
    return matches;
}

void PrintMissing(const char* what,
                  const std::vector<std::wstring>& these,
                  const std::vector<std::wstring>& notIn) {
    for (const std::wstring& match : these) {
        if (!std::binary_search(notIn.begin(), notIn.end(), match))
            fprintf(stderr, "  %s: %ls\n", what, match.c_str());
    }
}

// True when the scan found exactly the seeded matches, with their verdicts,
// and passed over every one of Windows' own packages; else says what differs.
bool FoundTheSeededMatches(const PackageScan& scan, const std::vector<std::wstring>& expected) {
    const std::vector<std::wstring> found = FoundMatches(scan);
    const bool same = found == expected && scan.windowsPackages == kWindowsFolders;
    if (!same) {
        fprintf(stderr,
                "bench_driver_store: the scan found %zu matches (expected %zu) and %zu of "
                "Windows' own packages (expected %zu): it does not measure the seeded store\n",
                found.size(), expected.size(), scan.windowsPackages, kWindowsFolders);
        PrintMissing("not found", expected, found);
        PrintMissing("not seeded", found, expected);
    }
    return same;
}

// Every store INF, and each third-party package's oemN.inf and oemN.PNF.
size_t CandidateFiles(const std::wstring& driverName) {
    const std::vector<BenchPackage> packages = Layout(driverName);
    const size_t thirdParty = static_cast<size_t>(std::count_if(
        packages.begin(), packages.end(), [](const BenchPackage& p) { return !p.own; }));
    return packages.size() + 2 * thirdParty;
}

// --- Timing ----------------------------------------------------------------

double Now() {
    static LARGE_INTEGER frequency{};
    if (!frequency.QuadPart)
        ::QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

// The files the engine opens and the bytes it reads, through the seam.
uint64_t filesOpened = 0, bytesRead = 0;
decltype(&::CreateFileW) realCreateFile = nullptr;
decltype(&::ReadFile) realReadFile = nullptr;

HANDLE WINAPI CountingCreateFile(LPCWSTR path,
                                 DWORD access,
                                 DWORD share,
                                 LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition,
                                 DWORD flags,
                                 HANDLE templateFile) {
    ++filesOpened;
    return realCreateFile(path, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI
CountingReadFile(HANDLE file, LPVOID buffer, DWORD wanted, LPDWORD read, LPOVERLAPPED overlapped) {
    const BOOL ok = realReadFile(file, buffer, wanted, read, overlapped);
    bytesRead += ok && read ? *read : 0;
    return ok;
}

void CountEngineReads() {
    realCreateFile = win32.CreateFileW;
    realReadFile = win32.ReadFile;
    win32.CreateFileW = CountingCreateFile;
    win32.ReadFile = CountingReadFile;
}

struct Timings {
    std::vector<double> runs;
    double Best() const { return *std::min_element(runs.begin(), runs.end()); }
};

template <typename Pass>
void Time(Timings& timings, Pass pass) {
    const double start = Now();
    pass();
    timings.runs.push_back(Now() - start);
}

void Print(const char* key, const Timings& timings) {
    printf("%s_runs=", key);
    for (size_t i = 0; i < timings.runs.size(); ++i)
        printf("%s%.4f", i ? "," : "", timings.runs[i]);
    printf("\n%s_seconds=%.4f\n", key, timings.Best());
}

// What reading every candidate once costs: every store INF and every oem file
// of the inf folder, found by the engine's walk and each read whole with one
// ReadFile into one buffer.
struct Candidates {
    FileList files;
    uint64_t bytes = 0;
    uint64_t largest = 0;
};

void WalkCandidates(Candidates& candidates,
                    const std::wstring& repository,
                    const std::wstring& inf) {
    candidates.files.clear();
    WalkFolder(candidates.files, repository, WALK_COLLECT, L".inf", TRUE);
    WalkFolder(candidates.files, inf, WALK_COLLECT, L"oem", TRUE);
}

void ReadEveryCandidate(Candidates& candidates, std::vector<char>& buffer) {
    candidates.bytes = 0;
    for (const std::wstring& path : candidates.files) {
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER size{};
        DWORD read = 0;
        if (file == INVALID_HANDLE_VALUE || !::GetFileSizeEx(file, &size))
            continue;
        if (buffer.size() < static_cast<size_t>(size.QuadPart))
            buffer.resize(static_cast<size_t>(size.QuadPart));
        ::ReadFile(file, buffer.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr);
        ::CloseHandle(file);
        candidates.bytes += read;
        candidates.largest = std::max<uint64_t>(candidates.largest, read);
    }
}

int Scan(const std::wstring& root, const std::wstring& driverName, int repeats) {
    std::wstring repository, inf;
    if (!BenchFolders(root, repository, inf))
        return 1;
    printf("repository=%ls\ninf=%ls\n", repository.c_str(), inf.c_str());
    const std::vector<std::wstring> expected = ExpectedMatches(driverName, repository, inf);
    CountEngineReads();

    // The first scan: its matches and its memory.
    const PROCESS_MEMORY_COUNTERS before = Memory();
    const PackageScan first = ScanDriverPackages(driverName, kRemainingDrivers);
    const PROCESS_MEMORY_COUNTERS after = Memory();
    if (!FoundTheSeededMatches(first, expected))
        return 3;
    printf("scan_files_opened=%llu\nscan_bytes_read=%llu\nmatches=%zu\nwindows_packages=%zu\n",
           static_cast<unsigned long long>(filesOpened), static_cast<unsigned long long>(bytesRead),
           expected.size(), first.windowsPackages);

    // Then the scan, the reading of every candidate, and the walk alone, in turn.
    Timings scan, reference, walk;
    Candidates candidates;
    std::vector<char> buffer;
    for (int i = 0; i < repeats; ++i) {
        Time(scan, [&] { ScanDriverPackages(driverName, kRemainingDrivers); });
        Time(reference, [&] {
            WalkCandidates(candidates, repository, inf);
            ReadEveryCandidate(candidates, buffer);
        });
        Time(walk, [&] { WalkCandidates(candidates, repository, inf); });
    }
    if (candidates.files.size() != CandidateFiles(driverName)) {
        fprintf(stderr,
                "bench_driver_store: reading every candidate found %zu files, expected %zu\n",
                candidates.files.size(), CandidateFiles(driverName));
        return 3;
    }
    Print("scan", scan);
    Print("read_all", reference);
    Print("walk", walk);
    printf("candidate_files=%zu\ncandidate_bytes=%llu\nlargest_inf_bytes=%llu\n",
           candidates.files.size(), static_cast<unsigned long long>(candidates.bytes),
           static_cast<unsigned long long>(candidates.largest));
    printf("working_set_before=%llu\npeak_working_set_after=%llu\n",
           static_cast<unsigned long long>(before.WorkingSetSize),
           static_cast<unsigned long long>(after.PeakWorkingSetSize));
    return 0;
}

// The package scan of a removal of `names` as DetectRemoval reads it (with
// `texts`) and the plan decides it: one pass over the candidates, then each
// name's verdicts.
std::vector<PackageScan> ScanForSet(const std::vector<std::wstring>& names,
                                    const std::vector<std::wstring>& installed,
                                    CandidateTexts texts) {
    const PackageCandidates candidates = ScanPackageCandidates(names, installed, texts);
    const std::set<std::wstring> leaving(names.begin(), names.end());
    std::vector<PackageScan> scans;
    for (size_t i = 0; i < names.size(); ++i)
        scans.push_back(DecidePackages(candidates, i, leaving));
    return scans;
}

int ScanSet(const std::wstring& root, const std::wstring& driverName, int repeats) {
    std::wstring repository, inf;
    if (!BenchFolders(root, repository, inf))
        return 1;
    const std::vector<std::wstring> expected = ExpectedMatches(driverName, repository, inf);
    std::vector<std::wstring> installed = kRemainingDrivers;
    installed.push_back(driverName);
    // Nine installed drivers whose vendors' packages the store holds.
    std::vector<std::wstring> ten = {driverName};
    ten.insert(ten.end(), kRemainingDrivers.begin() + 10, kRemainingDrivers.begin() + 19);

    // The texts as DetectRemoval takes them on this machine (no leftovers),
    // and all of them, as where a vendor's monitor is registered.
    const CandidateTexts here =
        TextsThePlanNeeds(false, ReadRegistryMonitors(), ReadRegistryPrintProcessors());
    const std::vector<PackageScan> single = ScanForSet({driverName}, installed, here);
    const std::vector<PackageScan> set = ScanForSet(ten, installed, here);
    if (!FoundTheSeededMatches(single[0], expected) || !FoundTheSeededMatches(set[0], expected))
        return 3;
    size_t matches = 0;
    for (size_t i = 0; i < ten.size(); ++i) {
        const size_t found = set[i].oemInfs.size() + set[i].packages.size();
        if (found == 0) {
            fprintf(stderr, "bench_driver_store: the set's scan found nothing of %ls\n",
                    ten[i].c_str());
            return 3;
        }
        matches += found;
    }
    printf("set_names=%zu\nset_matches=%zu\nregistrations_read=%d\n", ten.size(), matches,
           here == CandidateTexts::Registrations ? 1 : 0);
    Timings one, all, oneRead, allRead;
    for (int i = 0; i < repeats; ++i) {
        Time(one, [&] { ScanForSet({driverName}, installed, here); });
        Time(all, [&] { ScanForSet(ten, installed, here); });
        Time(oneRead, [&] { ScanForSet({driverName}, installed, CandidateTexts::Registrations); });
        Time(allRead, [&] { ScanForSet(ten, installed, CandidateTexts::Registrations); });
    }
    Print("one_name", one);
    Print("ten_names", all);
    Print("one_name_registrations", oneRead);
    Print("ten_names_registrations", allRead);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wstring(argv[1]) == L"seed")
        return Seed(argv[2], argv[3]);
    if (argc >= 5 && std::wstring(argv[1]) == L"scan")
        return Scan(argv[2], argv[3], std::max(1, _wtoi(argv[4])));
    if (argc >= 5 && std::wstring(argv[1]) == L"scan-set")
        return ScanSet(argv[2], argv[3], std::max(1, _wtoi(argv[4])));
    fprintf(stderr,
            "usage: bench_driver_store seed|scan|scan-set <root> <driver name> [repeats]\n");
    return 2;
}
