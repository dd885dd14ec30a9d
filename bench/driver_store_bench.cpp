// Benchmark of the driver package scan: builds a synthetic Windows folder
// (a driver store repository and an inf folder) and times PurgeDriverStore and
// UninstallOemInfs over it with every deleting or launching call replaced by
// a counter, so that only the collect walk and the INF matching run.
//
//   bench_driver_store seed <root> <driver name>
//   bench_driver_store scan <root> <driver name> <repeats>
//
// <root> is a folder such as C:\kbench; its "windows" sub-folder stands in
// for the Windows folder. "scan" prints key=value lines for the script.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/driver_packages.h"
#include "engine/file_helpers.h"

namespace {

constexpr int kPackages = 1000;
constexpr int kInfsPerPackage = 3;
constexpr int kMatchingInfs = 5;
constexpr int kOemInfs = 150;  // each with its PNF: 300 oem files
constexpr size_t kLargestInf = 8u << 20;

std::wstring benchWindows;

// --- Seeding ---------------------------------------------------------------

uint32_t rngState = 12345;
uint32_t Next() {
    rngState = rngState * 1664525u + 1013904223u;
    return rngState >> 8;
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

// INF-like text of about `size` bytes; `name` (may be empty) goes near its end.
std::string InfText(size_t size, int id, const std::string& name) {
    std::string text =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"
        "ClassGuid={4D36E979-E325-11CE-BFC1-08002BE10318}\r\nProvider=%VendorName%\r\n"
        "DriverVer=06/21/2026,10.0.22621.1\r\nCatalogFile=prn" +
        std::to_string(id) +
        ".cat\r\n\r\n[Manufacturer]\r\n%VendorName%=Models,NTx86,NTamd64\r\n\r\n";
    char line[200];
    int n = 0;
    while (text.size() + 160 < size) {
        const uint32_t r = Next();
        snprintf(line, sizeof line,
                 "\"Vendor Model %05u PCL6 Class Driver\" = DRV_%05u_%u, "
                 "LPTENUM\\VendorModel%05u, Vendor_Model_%04X ; page %d\r\n",
                 r % 99999, id, n, r % 77777, r & 0xFFFF, n);
        text += line;
        ++n;
    }
    if (!name.empty())
        text += "\r\n[Strings]\r\nModelName=\"" + name + "\"\r\n";
    text.append(size > text.size() ? size - text.size() : 0, ' ');
    return text;
}

// A precompiled-INF stand-in: a binary header with zero bytes, then UTF-16.
std::string PnfBytes(size_t size) {
    std::string bytes("PNF\x01\x00\x00\x00\x00", 8);
    while (bytes.size() < size) {
        bytes += static_cast<char>('A' + Next() % 26);
        bytes += '\0';
    }
    return bytes;
}

int Seed(const std::wstring& root, const std::string& name) {
    const std::wstring repository = root + L"\\windows\\System32\\DriverStore\\FileRepository\\";
    const std::wstring inf = root + L"\\windows\\inf\\";
    CreateFolders(repository);
    CreateFolders(inf);
    uint64_t total = 0;
    const int totalInfs = kPackages * kInfsPerPackage;
    for (int p = 0; p < kPackages; ++p) {
        wchar_t package[64];
        swprintf(package, 64, L"prn%04d.inf_x86_%08x\\", p, Next());
        CreateFolders(repository + package);
        for (int i = 0; i < kInfsPerPackage; ++i) {
            const int id = p * kInfsPerPackage + i;
            // Spread the matching INFs over five packages, the largest INF elsewhere.
            const bool matching = i == 1 && p % (kPackages / kMatchingInfs) == 7;
            const size_t size = id == totalInfs / 2 ? kLargestInf : 20480 + Next() % 57344;
            const std::string text = InfText(size, id, matching ? name : std::string());
            wchar_t file[32];
            swprintf(file, 32, L"prn%04d_%d.inf", p, i);
            if (!WriteFileBytes(repository + package + file, text))
                return 1;
            total += text.size();
        }
    }
    for (int i = 0; i < kOemInfs; ++i) {
        const std::string text = InfText(20480 + Next() % 40960, 9000 + i, i == 7 ? name : "");
        if (!WriteFileBytes(inf + L"oem" + std::to_wstring(i) + L".inf", text) ||
            !WriteFileBytes(inf + L"oem" + std::to_wstring(i) + L".PNF", PnfBytes(30000)))
            return 1;
    }
    printf("seeded_repository_bytes=%llu\n", static_cast<unsigned long long>(total));
    return 0;
}

// --- Scanning --------------------------------------------------------------

int launches = 0, sleeps = 0, deletions = 0, removals = 0, setupCalls = 0;

BOOL WINAPI BenchFolder(HWND, LPWSTR path, int folder, BOOL) {
    if (folder != CSIDL_WINDOWS)
        return FALSE;
    wcscpy(path, benchWindows.c_str());
    return TRUE;
}
BOOL WINAPI CountDelete(LPCWSTR) {
    ++deletions;
    return TRUE;
}
BOOL WINAPI CountRemove(LPCWSTR) {
    ++removals;
    return TRUE;
}
HINSTANCE WINAPI CountLaunch(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    ++launches;
    return reinterpret_cast<HINSTANCE>(42);
}
void WINAPI CountSleep(DWORD) {
    ++sleeps;
}
BOOL WINAPI CountSetup(PCWSTR, DWORD, PVOID) {
    ++setupCalls;
    return TRUE;
}

// Total bytes, file count and largest file of a tree (not timed).
void Measure(const std::wstring& folder, uint64_t& bytes, int& files, uint64_t& largest) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Measure(folder + name + L"\\", bytes, files, largest);
        } else {
            const uint64_t size = (uint64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            bytes += size;
            ++files;
            largest = std::max(largest, size);
        }
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
}

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

template <typename Pass>
void Time(const char* key, int repeats, Pass pass) {
    double best = 1e9;
    printf("%s_runs=", key);
    for (int i = 0; i < repeats; ++i) {
        const double start = Now();
        pass();
        const double seconds = Now() - start;
        best = std::min(best, seconds);
        printf("%s%.4f", i ? "," : "", seconds);
    }
    printf("\n%s_seconds=%.4f\n", key, best);
}

int Scan(const std::wstring& root, const std::wstring& name, int repeats) {
    benchWindows = root + L"\\windows";
    uint64_t repoBytes = 0, infBytes = 0, largest = 0, ignored = 0;
    int repoFiles = 0, infFiles = 0;
    Measure(benchWindows + L"\\System32\\DriverStore\\FileRepository\\", repoBytes, repoFiles,
            largest);
    Measure(benchWindows + L"\\inf\\", infBytes, infFiles, ignored);
    printf("repository_files=%d\nrepository_bytes=%llu\nlargest_inf_bytes=%llu\n", repoFiles,
           static_cast<unsigned long long>(repoBytes), static_cast<unsigned long long>(largest));
    printf("inf_files=%d\ninf_bytes=%llu\n", infFiles, static_cast<unsigned long long>(infBytes));

    win32.SHGetSpecialFolderPathW = BenchFolder;
    win32.DeleteFileW = CountDelete;
    win32.RemoveDirectoryW = CountRemove;
    win32.ShellExecuteW = CountLaunch;
    win32.Sleep = CountSleep;
    win32.SetupUninstallOEMInfW = CountSetup;

    const PROCESS_MEMORY_COUNTERS before = Memory();
    Time("purge", repeats, [&] { PurgeDriverStore(name); });
    printf("purge_matching_packages=%d\n", launches / repeats);
    Time("oem", repeats, [&] { UninstallOemInfs(name); });
    printf("oem_matching_files=%d\n", setupCalls / repeats);
    const PROCESS_MEMORY_COUNTERS after = Memory();

    // Where the time goes: the walk alone, then with every candidate read,
    // then with every candidate decoded from the ANSI code page as well.
    const std::wstring repository = benchWindows + L"\\System32\\DriverStore\\FileRepository\\";
    Time("walk", repeats, [&] {
        FileList list;
        WalkFolder(list, repository, WALK_COLLECT, L".inf", TRUE);
    });
    Time("walk_read", repeats, [&] {
        FileList list;
        WalkFolder(list, repository, WALK_COLLECT, L".inf", TRUE);
        for (const std::wstring& path : list)
            ReadWholeFile(path);
    });
    Time("walk_read_decode", repeats, [&] {
        FileList list;
        WalkFolder(list, repository, WALK_COLLECT, L".inf", TRUE);
        std::wstring text;
        for (const std::wstring& path : list) {
            const FileBytes file = ReadWholeFile(path);
            text.resize(file.length + 1);
            ::MultiByteToWideChar(CP_ACP, 0, file.bytes.data(), static_cast<int>(file.length),
                                  text.data(), static_cast<int>(text.size()));
        }
    });

    printf("working_set_before=%llu\npeak_working_set_after=%llu\n",
           static_cast<unsigned long long>(before.WorkingSetSize),
           static_cast<unsigned long long>(after.PeakWorkingSetSize));
    printf("pagefile_before=%llu\npeak_pagefile_after=%llu\n",
           static_cast<unsigned long long>(before.PagefileUsage),
           static_cast<unsigned long long>(after.PeakPagefileUsage));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wstring(argv[1]) == L"seed") {
        const std::wstring name = argv[3];
        return Seed(argv[2], std::string(name.begin(), name.end()));
    }
    if (argc >= 5 && std::wstring(argv[1]) == L"scan")
        return Scan(argv[2], argv[3], std::max(1, _wtoi(argv[4])));
    fprintf(stderr, "usage: bench_driver_store seed|scan <root> <driver name> [repeats]\n");
    return 2;
}
