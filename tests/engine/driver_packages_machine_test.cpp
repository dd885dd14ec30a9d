// Driver package removal on the private prefix's real Windows folder: oem
// INF copies seeded in C:\windows\inf and package folders in Windows' own
// driver store repository (reached through Sysnative from an i686 process,
// which Wine would otherwise redirect to syswow64). The setup API (a stub in
// Wine), the shell and Sleep are recorded instead of called.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/driver_packages.h"
#include "engine/file_helpers.h"
#include "engine/inf_scan.h"
#include "engine/inf_sections.h"
#include "engine/inf_text.h"
#include "support/pc_seed.h"
#include "support/test_support.h"

namespace {

std::vector<std::wstring> setupCalls;
BOOL WINAPI RecordingSetupUninstall(PCWSTR name, DWORD flags, PVOID reserved) {
    setupCalls.push_back(std::wstring(name) + L" " + std::to_wstring(flags) +
                         (reserved ? L" reserved" : L" null"));
    return TRUE;
}

std::vector<std::wstring> launches;
HINSTANCE WINAPI
RecordingShellExecute(HWND, LPCWSTR, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT) {
    launches.push_back(std::wstring(file) + L" " + parameters);
    return reinterpret_cast<HINSTANCE>(42);
}

std::vector<DWORD> sleeps;
void WINAPI RecordingSleep(DWORD milliseconds) {
    sleeps.push_back(milliseconds);
}

std::vector<std::wstring> removedFolders;
BOOL WINAPI RecordingRemoveDirectory(LPCWSTR path) {
    removedFolders.push_back(path);
    return ::RemoveDirectoryW(path);
}

std::wstring WindowsFolder() {
    wchar_t path[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_WINDOWS, FALSE);
    return path;
}

class DriverPackagesOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        setupCalls.clear();
        launches.clear();
        sleeps.clear();
        removedFolders.clear();
        driverStoreExisted = FolderExists(driverStore);
        repositoryExisted = FolderExists(repository);
        win32.SetupUninstallOEMInfW = RecordingSetupUninstall;
        win32.ShellExecuteW = RecordingShellExecute;
        win32.Sleep = RecordingSleep;
    }

    void TearDown() override {
        for (HANDLE held : heldFiles)
            ::CloseHandle(held);
        for (const std::wstring& path : infFiles)
            ::DeleteFileW(path.c_str());
        for (const std::wstring& package : packages)
            RemoveTree(package);
        if (!repositoryExisted)
            RemoveTree(repository);
        if (!driverStoreExisted)
            RemoveTree(driverStore);
        ResetOperationLog();
    }

    // Seeds C:\windows\inf\<name>.
    std::wstring SeedInf(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = inf + name;
        WriteBytes(path, bytes);
        infFiles.push_back(path);
        return path;
    }

    // Seeds <repository>\<package>\<relative>; returns the package folder.
    std::wstring SeedPackageFile(const std::wstring& package,
                                 const std::wstring& relative,
                                 const std::string& bytes) {
        const std::wstring folder = repository + package + L"\\";
        if (std::find(packages.begin(), packages.end(), folder) == packages.end())
            packages.push_back(folder);
        WriteBytes(folder + relative, bytes);
        return folder;
    }

    // Opens a file without sharing, so it cannot be deleted until TearDown.
    void Lock(const std::wstring& path) {
        HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        heldFiles.push_back(held);
    }

    // The order in which the purge meets the INF files of the repository.
    FileList RepositoryInfs() {
        FileList list;
        WalkFolder(list, repository, WALK_COLLECT, L".inf", TRUE);
        return list;
    }

    const std::wstring windows = WindowsFolder();
    const std::wstring inf = windows + L"\\inf\\";
    const std::wstring driverStore = NativeSystem32() + L"\\DriverStore\\";
    const std::wstring repository = driverStore + L"FileRepository\\";
    // Unique per run, so that nothing else in the prefix mentions it.
    const std::wstring driver = L"KTest Laser " + std::to_wstring(::GetCurrentProcessId());
    const std::string driverAnsi = Utf8(driver);
    bool driverStoreExisted = false;
    bool repositoryExisted = false;
    std::vector<std::wstring> infFiles;
    std::vector<std::wstring> packages;
    std::vector<HANDLE> heldFiles;
    ScopedWin32Fakes fakes;
};

TEST_F(DriverPackagesOnDisk, Utf16InfMatchesAndItsPackageGoes) {
    const std::string utf16 = Utf16LeFile(L"[Strings]\r\nModel=\"" + driver + L"\"\r\n");
    const std::wstring oem = SeedInf(L"oem9301.inf", utf16);
    const std::wstring package = SeedPackageFile(L"ktest_utf16.inf_x86_1", L"ktest.inf", utf16);

    EXPECT_TRUE(MentionsDriver(oem, driver));
    EXPECT_TRUE(UninstallOemInfs(driver));
    EXPECT_TRUE(PurgeDriverStore(driver));
    EXPECT_EQ(setupCalls, std::vector<std::wstring>{L"oem9301.inf 1 null"});
    EXPECT_FALSE(FolderExists(package));
}

// 岚拓打印机 in GBK (code page 936) and in UTF-8.
const std::string kBrandGbk = "\xE1\xB0\xCD\xD8\xB4\xF2\xD3\xA1\xBB\xFA";
// 打印机驱动程序 and 丂 (whose second byte is 0x40) in GBK.
const std::string kPrinterDriverGbk = "\xB4\xF2\xD3\xA1\xBB\xFA\xC7\xFD\xB6\xAF\xB3\xCC\xD0\xF2";
const std::string kTrail40Gbk = "\x81\x40";
const std::string kBrandUtf8 = "\xE5\xB2\x9A\xE6\x8B\x93\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA";

TEST_F(DriverPackagesOnDisk, GbkChineseNameMatchesUnderCodePage936AndUtf8DoesNot) {
    if (::GetACP() != 936)
        GTEST_SKIP() << "ANSI code page is " << ::GetACP() << ", not 936";
    const std::wstring name = L"岚拓打印机 " + driver;
    const std::string gbk = "Model=\"" + kBrandGbk + " " + driverAnsi + "\"\r\n";
    const std::string utf8 = "Model=\"" + kBrandUtf8 + " " + driverAnsi + "\"\r\n";
    SeedInf(L"oem9311.inf", gbk);
    SeedInf(L"oem9312.inf", utf8);
    const std::wstring gbkPackage = SeedPackageFile(L"ktest_gbk.inf_x86_1", L"ktest.inf", gbk);
    const std::wstring utf8Package = SeedPackageFile(L"ktest_utf8.inf_x86_1", L"ktest.inf", utf8);

    EXPECT_TRUE(UninstallOemInfs(name));
    EXPECT_EQ(setupCalls, std::vector<std::wstring>{L"oem9311.inf 1 null"});
    EXPECT_TRUE(PurgeDriverStore(name));
    EXPECT_FALSE(FolderExists(gbkPackage));
    EXPECT_TRUE(FileExists(utf8Package + L"ktest.inf"));
    EXPECT_TRUE(launches.empty());

    // Long double-byte text is decoded in slices that end between characters,
    // and only after an ASCII byte. Both fillers start at an odd offset, so a
    // slice cut at a fixed size would split a character and pair up the rest
    // wrongly: one filler has no ASCII byte at all (one slice runs on to the
    // blank after the name), the other has one only as the second byte of
    // each 丂. The name after 200 KB of either still matches; the same bytes
    // shifted behind a lead byte do not.
    ScratchFolder scratch;
    std::string noAscii = "x";
    std::string trail40 = "x";
    while (noAscii.size() < 200000) {
        noAscii += kPrinterDriverGbk;
        trail40 += kPrinterDriverGbk + kTrail40Gbk;
    }
    const std::string tail = kBrandGbk + " " + driverAnsi;
    WriteBytes(scratch.path() + L"no_ascii.inf", noAscii + tail);
    EXPECT_TRUE(MentionsDriver(scratch.path() + L"no_ascii.inf", name));
    WriteBytes(scratch.path() + L"trail40.inf", trail40 + tail);
    EXPECT_TRUE(MentionsDriver(scratch.path() + L"trail40.inf", name));
    WriteBytes(scratch.path() + L"shifted.inf", noAscii + "\x81" + tail);
    EXPECT_FALSE(MentionsDriver(scratch.path() + L"shifted.inf", name));
}

TEST_F(DriverPackagesOnDisk, LowerCaseNameMatchesAnInfWrittenInCapitals) {
    std::string capitals = "[STRINGS]\r\nMODEL=\"" + driverAnsi + " PCL6\"\r\n";
    std::transform(capitals.begin(), capitals.end(), capitals.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    std::wstring lower = driver;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c + 32 : c; });
    SeedInf(L"oem9321.inf", capitals);
    SeedInf(L"oem9322.inf", "MODEL=\"OTHER PRINTER\"\r\n");
    const std::wstring package = SeedPackageFile(L"ktest_caps.inf_x86_1", L"KTEST.inf", capitals);

    EXPECT_TRUE(UninstallOemInfs(lower));
    EXPECT_EQ(setupCalls, std::vector<std::wstring>{L"oem9321.inf 1 null"});
    EXPECT_TRUE(PurgeDriverStore(lower));
    EXPECT_FALSE(FolderExists(package));
}

TEST_F(DriverPackagesOnDisk, PackageWithTwoMatchingInfsIsTakenOverAndDeletedOnce) {
    const std::string text = "Model=\"" + driverAnsi + "\"\r\n";
    SeedPackageFile(L"ktest_two.inf_x86_1", L"ktest.inf", text);
    SeedPackageFile(L"ktest_two.inf_x86_1", L"ktest_fax.inf", text);
    const std::wstring package = SeedPackageFile(L"ktest_two.inf_x86_1", L"ktest.sys", "MZ");

    EXPECT_TRUE(PurgeDriverStore(driver));
    EXPECT_TRUE(launches.empty()) << "taken over in-process, no command";
    EXPECT_TRUE(sleeps.empty()) << "nothing to wait for";
    EXPECT_FALSE(FolderExists(package));
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(DriverPackagesOnDisk, PackageWithNestedFoldersIsRemovedInnermostFirst) {
    SeedPackageFile(L"ktest_nested.inf_x86_1", L"ktest.inf", "Model=\"" + driverAnsi + "\"");
    SeedPackageFile(L"ktest_nested.inf_x86_1", L"a\\1.dll", "1");
    SeedPackageFile(L"ktest_nested.inf_x86_1", L"a\\b\\2.dll", "2");
    const std::wstring package = SeedPackageFile(L"ktest_nested.inf_x86_1", L"a\\b\\c\\3.dll", "3");
    win32.RemoveDirectoryW = RecordingRemoveDirectory;

    EXPECT_TRUE(PurgeDriverStore(driver));
    EXPECT_EQ(removedFolders,
              (std::vector<std::wstring>{package + L"a\\b\\c\\", package + L"a\\b\\",
                                         package + L"a\\", package}));
    EXPECT_FALSE(FolderExists(package));
    EXPECT_TRUE(FolderExists(repository));
}

std::vector<std::wstring> scheduledPaths;
BOOL scheduleResult = TRUE;
BOOL WINAPI RecordSchedule(LPCWSTR path, LPCWSTR, DWORD) {
    scheduledPaths.push_back(path);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return scheduleResult;
}

// A file another program holds goes at the restart, its folder after it;
// where it cannot be scheduled, it fails the purge even in the first of two
// packages.
TEST_F(DriverPackagesOnDisk, LockedFileGoesAtTheRestartAndFailsThePurgeOnlyWhenItCannot) {
    const std::string text = "Model=\"" + driverAnsi + "\"\r\n";
    const std::vector<std::wstring> names = {L"ktest_lock_a.inf_x86_1", L"ktest_lock_b.inf_x86_1"};
    // Seeds both packages, each with an INF and a driver file, and gives them
    // in the order the purge meets them: that is the enumeration's business.
    const auto seedBoth = [&]() {
        std::vector<std::wstring> folders;
        for (const std::wstring& name : names) {
            SeedPackageFile(name, L"ktest.sys", "MZ");
            folders.push_back(SeedPackageFile(name, L"ktest.inf", text));
        }
        const FileList order = RepositoryInfs();
        const auto position = [&order](const std::wstring& folder) {
            return std::find(order.begin(), order.end(), folder + L"ktest.inf") - order.begin();
        };
        if (position(folders[0]) > position(folders[1]))
            std::swap(folders[0], folders[1]);
        return folders;
    };
    win32.MoveFileExW = RecordSchedule;
    for (const BOOL schedulable : {TRUE, FALSE}) {
        scheduleResult = schedulable;
        scheduledPaths.clear();
        ResetOperationLog();
        const std::vector<std::wstring> packages = seedBoth();
        const std::wstring shown = ShownPath(packages[0]);
        Lock(packages[0] + L"ktest.sys");
        EXPECT_EQ(PurgeDriverStore(driver), schedulable);
        EXPECT_TRUE(FileExists(packages[0] + L"ktest.sys"));
        EXPECT_FALSE(FolderExists(packages[1]));
        const std::string log = OperationLogText();
        if (schedulable) {
            EXPECT_EQ(scheduledPaths,
                      (std::vector<std::wstring>{shown + L"ktest.sys",
                                                 shown.substr(0, shown.size() - 1)}));
            EXPECT_EQ(CountOf(log, " failed with error"), 0) << log;
        } else {
            EXPECT_EQ(CountOf(log, "DeleteFile" + Utf8(shown) + "ktest.sys failed with error"), 1);
            EXPECT_EQ(CountOf(log, "MoveFileEx" + Utf8(shown) + "ktest.sys failed with error 5"),
                      1);
            EXPECT_EQ(CountOf(log, "RemoveDirectory failed with error"), 1);
        }
        ::CloseHandle(heldFiles.back());
        heldFiles.pop_back();
        RemoveTree(packages[0]);
    }
}

// --- INFs as the setup API reads them -------------------------------------

std::wstring FieldOf(INFCONTEXT& line, DWORD field) {
    wchar_t text[512] = {};
    return ::SetupGetStringFieldW(&line, field, text, 512, nullptr) ? text : L"";
}

// The model names that Windows' own INF parser gives for the system's
// language: the keys of the lines of each models section [Manufacturer] names.
std::vector<std::wstring> SetupApiModelNames(HINF inf) {
    std::vector<std::wstring> names;
    INFCONTEXT maker{};
    for (BOOL more = ::SetupFindFirstLineW(inf, L"Manufacturer", nullptr, &maker); more;
         more = ::SetupFindNextLine(&maker, &maker)) {
        const std::wstring base = FieldOf(maker, 1);
        std::vector<std::wstring> sections = {base};
        for (DWORD field = 2; field <= ::SetupGetFieldCount(&maker); ++field)
            sections.push_back(base + L"." + FieldOf(maker, field));
        for (const std::wstring& section : sections) {
            INFCONTEXT model{};
            for (BOOL line = ::SetupFindFirstLineW(inf, section.c_str(), nullptr, &model); line;
                 line = ::SetupFindNextLine(&model, &model)) {
                names.push_back(FieldOf(model, 0));
            }
        }
    }
    return names;
}

// The PC's INFs, UTF-16 and ANSI, as the setup API opens them: every model
// name it resolves is one the program reads, and the provider it resolves is
// Microsoft exactly when the program takes the package for Windows' own.
TEST(InfsAsTheSetupApiReadsThem, ModelNamesAndProviderAgreeWithSetupOpenInfFile) {
    ScratchFolder scratch;
    size_t setupApiNames = 0;
    for (const PcPackage& package : PC_PACKAGES) {
        const std::wstring text = package.inf;
        const std::wstring path = scratch.path() + package.published;
        WriteBytes(path, package.utf16 ? Utf16LeFile(text) : std::string(text.begin(), text.end()));
        ASSERT_EQ(ReadInfText(path), text) << Utf8(path);
        HINF inf = ::SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
        ASSERT_NE(inf, INVALID_HANDLE_VALUE) << Utf8(path) << " error " << ::GetLastError();
        const std::vector<std::wstring> ours = ModelNames(text);
        for (const std::wstring& name : SetupApiModelNames(inf)) {
            ++setupApiNames;
            EXPECT_NE(std::find(ours.begin(), ours.end(), name), ours.end())
                << Utf8(path) << ": " << Utf8(name);
        }
        INFCONTEXT provider{};
        const std::wstring resolved = ::SetupFindFirstLineW(inf, L"Version", L"Provider", &provider)
                                          ? FieldOf(provider, 1)
                                          : L"";
        EXPECT_EQ(ScanInfFile(path, InfNames(L"", {})).microsoftProvider, resolved == L"Microsoft")
            << Utf8(path) << ": " << Utf8(resolved);
        ::SetupCloseInfFile(inf);
    }
    EXPECT_GE(setupApiNames, 8u);
}

}  // namespace
