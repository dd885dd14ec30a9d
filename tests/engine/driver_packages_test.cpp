// Driver package removal over a fake disk: the enumeration, the file reads
// and the deletions are served from memory, the Windows folder is a fake one,
// and the setup API, the shell and Sleep only record their calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/driver_packages.h"
#include "engine/inf_text.h"
#include "engine/file_helpers.h"
#include "fakes/fake_folder_tree.h"
#include "fakes/fake_machine.h"
#include "fakes/utf8_operation_log.h"
#include "support/test_support.h"

namespace {

const std::wstring kWindows = L"C:\\fakewin";
const std::wstring kInf = kWindows + L"\\inf\\";
const std::wstring kRepository = kWindows + L"\\System32\\DriverStore\\FileRepository\\";
constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;

// --- A disk in memory ------------------------------------------------------

std::map<std::wstring, std::string> contents;
std::set<std::wstring> undeletable;              // DeleteFileW / RemoveDirectoryW refuse these
std::set<std::wstring> unschedulable;            // MoveFileExW refuses these
std::set<std::wstring> unopenable;               // CreateFileW refuses these: held open elsewhere
std::map<std::wstring, LONGLONG> reportedSizes;  // GetFileSizeEx says so, not the contents
// Open fake files: handle slot -> path; an empty path is a closed slot.
std::vector<std::wstring> openFiles;
std::vector<size_t> readOffsets;
// Per file of the fake disk: how often it was opened, and how many of its
// bytes were read.
std::map<std::wstring, int> opens;
std::map<std::wstring, size_t> bytesRead;
// Every observable call, in order: "cmd <parameters>", "sleep <ms>",
// "delete <path>", "rmdir <path>", "setup <name> <flags> <reserved>",
// "restart <path>" (MoveFileExW, its path as given; flags checked).
std::vector<std::wstring> events;

bool OnFakeDisk(const std::wstring& path) {
    return path.rfind(kWindows, 0) == 0;
}

// Fake handles lie far above the small values Wine hands out.
HANDLE FakeHandle(size_t slot) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FF00000 + 4 * slot));
}

bool FakeSlot(HANDLE handle, size_t& slot) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < 0x7FF00000 || (value - 0x7FF00000) / 4 >= openFiles.size())
        return false;
    slot = (value - 0x7FF00000) / 4;
    return true;
}

HANDLE WINAPI FakeCreateFile(LPCWSTR path,
                             DWORD access,
                             DWORD share,
                             LPSECURITY_ATTRIBUTES security,
                             DWORD disposition,
                             DWORD flags,
                             HANDLE templateFile) {
    if (!OnFakeDisk(path)) {  // the operation log
        return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
    }
    if (!contents.count(path) || unopenable.count(path)) {
        ::SetLastError(contents.count(path) ? ERROR_SHARING_VIOLATION : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    openFiles.push_back(path);
    readOffsets.push_back(0);
    ++opens[path];
    return FakeHandle(openFiles.size() - 1);
}

BOOL WINAPI FakeGetFileSize(HANDLE handle, PLARGE_INTEGER size) {
    size_t slot = 0;
    if (!FakeSlot(handle, slot))
        return ::GetFileSizeEx(handle, size);
    const auto reported = reportedSizes.find(openFiles[slot]);
    size->QuadPart = reported != reportedSizes.end()
                         ? reported->second
                         : static_cast<LONGLONG>(contents.at(openFiles[slot]).size());
    return TRUE;
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD wanted, LPDWORD read, LPOVERLAPPED o) {
    size_t slot = 0;
    if (!FakeSlot(handle, slot))
        return ::ReadFile(handle, buffer, wanted, read, o);
    const std::string& bytes = contents.at(openFiles[slot]);
    const size_t count = std::min<size_t>(wanted, bytes.size() - readOffsets[slot]);
    memcpy(buffer, bytes.data() + readOffsets[slot], count);
    readOffsets[slot] += count;
    bytesRead[openFiles[slot]] += count;
    *read = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    size_t slot = 0;
    if (!FakeSlot(handle, slot))
        return ::CloseHandle(handle);
    openFiles[slot].clear();
    return TRUE;
}

int OpenFakeFiles() {
    int open = 0;
    for (const std::wstring& path : openFiles)
        open += path.empty() ? 0 : 1;
    return open;
}

BOOL WINAPI FakeDeleteFileOnDisk(LPCWSTR path) {
    events.push_back(L"delete " + std::wstring(path));
    if (undeletable.count(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    contents.erase(path);
    return TRUE;
}

BOOL WINAPI FakeRemoveDirectory(LPCWSTR path) {
    events.push_back(L"rmdir " + std::wstring(path));
    if (undeletable.count(path)) {
        ::SetLastError(ERROR_DIR_NOT_EMPTY);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FakeScheduleAtRestart(LPCWSTR path, LPCWSTR target, DWORD flags) {
    EXPECT_EQ(target, nullptr);
    EXPECT_EQ(flags, DWORD{MOVEFILE_DELAY_UNTIL_REBOOT});
    events.push_back(L"restart " + std::wstring(path));
    if (unschedulable.count(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

// Fills the fake enumeration and contents with `files`; each folder lists its
// entries in the order they first appear here.
void InstallFakeDisk(const std::vector<std::pair<std::wstring, std::string>>& files) {
    FakeTree tree;
    contents.clear();
    unopenable.clear();
    reportedSizes.clear();
    opens.clear();
    bytesRead.clear();
    const auto addEntry = [&tree](const std::wstring& folder, const FakeEntry& entry) {
        std::vector<FakeEntry>& entries = tree[folder];
        for (const FakeEntry& existing : entries) {
            if (existing.name == entry.name)
                return;
        }
        entries.push_back(entry);
    };
    for (const auto& [path, bytes] : files) {
        contents[path] = bytes;
        for (size_t at = path.find(L'\\', 3); at != std::wstring::npos;
             at = path.find(L'\\', at + 1)) {
            const std::wstring folder = path.substr(0, at);
            addEntry(FolderOf(folder), {FileNameOf(folder), kFolder});
        }
        addEntry(FolderOf(path), {FileNameOf(path)});
    }
    InstallFakeFolderTree(tree);
}

// --- The other recorded calls ---------------------------------------------

int windowsFolderLookups = 0;
bool windowsFolderKnown = true;

BOOL WINAPI FakeSpecialFolder(HWND owner, LPWSTR path, int folder, BOOL create) {
    if (folder != CSIDL_WINDOWS)  // Documents, for the operation log
        return ::SHGetSpecialFolderPathW(owner, path, folder, create);
    ++windowsFolderLookups;
    EXPECT_EQ(owner, nullptr);
    EXPECT_FALSE(create);
    if (!windowsFolderKnown)
        return FALSE;
    wcscpy(path, kWindows.c_str());
    return TRUE;
}

HINSTANCE WINAPI
RecordingShellExecute(HWND, LPCWSTR, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT) {
    events.push_back(std::wstring(file) + L" " + parameters);
    return reinterpret_cast<HINSTANCE>(42);
}

void WINAPI RecordingSleep(DWORD milliseconds) {
    events.push_back(L"sleep " + std::to_wstring(milliseconds));
}

BOOL setupResult = TRUE;
DWORD setupError = ERROR_INVALID_PARAMETER;  // the last error it leaves, also on success
BOOL WINAPI RecordingSetupUninstall(PCWSTR name, DWORD flags, PVOID reserved) {
    events.push_back(L"setup " + std::wstring(name) + L" " + std::to_wstring(flags) +
                     (reserved ? L" reserved" : L" null"));
    ::SetLastError(setupError);
    return setupResult;
}

class DriverPackagesFake : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        undeletable.clear();
        unschedulable.clear();
        openFiles.clear();
        readOffsets.clear();
        events.clear();
        windowsFolderLookups = 0;
        windowsFolderKnown = true;
        setupResult = TRUE;
        setupError = ERROR_INVALID_PARAMETER;
        win32.MoveFileExW = FakeScheduleAtRestart;
        win32.CreateFileW = FakeCreateFile;
        win32.GetFileSizeEx = FakeGetFileSize;
        win32.ReadFile = FakeReadFile;
        win32.CloseHandle = FakeCloseHandle;
        win32.DeleteFileW = FakeDeleteFileOnDisk;
        win32.RemoveDirectoryW = FakeRemoveDirectory;
        win32.SHGetSpecialFolderPathW = FakeSpecialFolder;
        FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, false);
        win32.ShellExecuteW = RecordingShellExecute;
        win32.Sleep = RecordingSleep;
        InstallFakeSecurity();
        win32.SetupUninstallOEMInfW = RecordingSetupUninstall;
    }
    void TearDown() override {
        EXPECT_EQ(OpenFakeFiles(), 0);
        EXPECT_EQ(FakeTreeOpenHandles(), 0);
        ResetOperationLog();
    }
    ScopedWin32Fakes fakes;
};

// --- MentionsDriver --------------------------------------------------------

std::vector<std::string> decodeCalls;
std::vector<std::string> decodedSlices;
// Latin-1 decoding that records the code page, the flags and the byte count.
int WINAPI
RecordingDecode(UINT codePage, DWORD flags, LPCCH bytes, int count, LPWSTR text, int units) {
    decodeCalls.push_back(std::to_string(codePage) + "/" + std::to_string(flags) + "/" +
                          std::to_string(count) + "/" + std::to_string(text ? units : 0));
    decodedSlices.emplace_back(bytes, count);
    if (!text || units == 0)
        return count;
    for (int i = 0; i < count && i < units; ++i)
        text[i] = static_cast<unsigned char>(bytes[i]);
    return std::min(count, units);
}

TEST_F(DriverPackagesFake, MentionsDriverDecodesTheAnsiCodePageUpToTheFirstZeroByte) {
    const std::string plain = "; for the KTest Laser 1000 series\r\n";
    InstallFakeDisk(
        {{kRepository + L"p\\plain.inf", plain},
         {kRepository + L"p\\after_zero.inf", std::string("[Version]\0KTest Laser 1000", 26)},
         {kRepository + L"p\\utf16.inf", std::string("K\0T\0e\0s\0t\0", 10)},
         {kRepository + L"p\\empty.inf", ""}});
    decodeCalls.clear();
    decodedSlices.clear();
    win32.MultiByteToWideChar = RecordingDecode;

    EXPECT_TRUE(MentionsDriver(kRepository + L"p\\plain.inf", L"KTest Laser 1000"));
    // One call converts the file's bytes.
    const std::string count = std::to_string(plain.size());
    EXPECT_EQ(decodeCalls, std::vector<std::string>{"0/0/" + count + "/" + count});

    EXPECT_FALSE(MentionsDriver(kRepository + L"p\\after_zero.inf", L"KTest Laser 1000"));
    EXPECT_TRUE(MentionsDriver(kRepository + L"p\\after_zero.inf", L"[version]"));
    EXPECT_FALSE(MentionsDriver(kRepository + L"p\\utf16.inf", L"KTest"));
    EXPECT_TRUE(MentionsDriver(kRepository + L"p\\utf16.inf", L"K"));
    EXPECT_FALSE(MentionsDriver(kRepository + L"p\\empty.inf", L"KTest"));
    EXPECT_FALSE(MentionsDriver(kRepository + L"p\\missing.inf", L"KTest"));
}

TEST_F(DriverPackagesFake, MentionsDriverFoldsTheCaseOfAsciiLettersOnly) {
    // Latin-1 bytes: 0xC9 is É, 0xE9 is é.
    InstallFakeDisk({{kInf + L"oem1.inf", "MODEL=\"KTEST CAF\xC9 LASERJET-PRO 1000\"\r\n"}});
    win32.MultiByteToWideChar = RecordingDecode;
    const std::wstring inf = kInf + L"oem1.inf";

    EXPECT_TRUE(MentionsDriver(inf, L"ktest caf\u00C9 laserjet"));
    EXPECT_TRUE(MentionsDriver(inf, L"LaserJet-Pro 1000"));  // part of a longer model name
    EXPECT_FALSE(MentionsDriver(inf, L"ktest caf\u00E9"));   // é is not folded to É
    EXPECT_FALSE(MentionsDriver(inf, L"LaserJet_Pro"));
    // An empty name would otherwise mention every file.
    EXPECT_FALSE(MentionsDriver(inf, L""));
}

// Decoding that needs more UTF-16 units than bytes, as no ANSI code page does.
int WINAPI WideningDecode(UINT, DWORD, LPCCH bytes, int count, LPWSTR text, int units) {
    if (!text || units == 0)
        return 2 * count;
    if (units < 2 * count) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        text[2 * i] = static_cast<unsigned char>(bytes[i]);
        text[2 * i + 1] = L'~';
    }
    return 2 * count;
}

TEST_F(DriverPackagesFake, MentionsDriverDecodesLargeFilesInSlicesThatEndAfterAnAsciiByte) {
    const std::string e(1, '\xE9');  // é in Latin-1, not ASCII
    // The file is read 4 KiB first, then 64 KiB at a time, and each slice
    // ends after the last ASCII byte read: here inside the name, which
    // therefore straddles two slices.
    std::string straddling;
    for (int i = 0; i < 4096 + 65536 - 3; ++i)
        straddling += e;
    const std::string filler = straddling;
    straddling += "KTest Laser 1000" + filler;
    // No ASCII byte for 136 KiB: the slice runs on until one has been read.
    const std::string runOn = filler + filler + " KTest Laser 1000\r\n";
    const std::string afterZero = filler + '\0' + filler + "KTest";
    InstallFakeDisk({{kInf + L"oem1.inf", straddling},
                     {kInf + L"oem2.inf", runOn},
                     {kInf + L"oem3.inf", afterZero},
                     {kInf + L"oem4.inf", "KTest"}});
    win32.MultiByteToWideChar = RecordingDecode;

    decodedSlices.clear();
    EXPECT_TRUE(MentionsDriver(kInf + L"oem1.inf", L"ktest laser 1000"));
    ASSERT_EQ(decodedSlices.size(), 2u);  // the name is found: no third slice
    EXPECT_EQ(decodedSlices[0], filler + "KTe");
    EXPECT_EQ(decodedSlices[1].substr(0, 13), "st Laser 1000");
    EXPECT_LT(bytesRead[kInf + L"oem1.inf"], straddling.size());

    decodedSlices.clear();
    EXPECT_TRUE(MentionsDriver(kInf + L"oem2.inf", L"KTest Laser 1000"));
    EXPECT_EQ(decodedSlices, std::vector<std::string>{runOn});

    // The zero byte ends the text: nothing after it is decoded.
    decodedSlices.clear();
    EXPECT_FALSE(MentionsDriver(kInf + L"oem3.inf", L"KTest"));
    EXPECT_EQ(decodedSlices, std::vector<std::string>{filler + '\0'});
    EXPECT_TRUE(MentionsDriver(kInf + L"oem3.inf", L"\u00E9\u00E9\u00E9"));

    // A decoder that wants more room is asked how much, then given it.
    win32.MultiByteToWideChar = WideningDecode;
    EXPECT_TRUE(MentionsDriver(kInf + L"oem4.inf", L"K~T~E~S~T"));
    EXPECT_FALSE(MentionsDriver(kInf + L"oem4.inf", L"KTEST"));
}

// A double-byte decoder that, like Wine's, takes any byte after the lead
// byte 0x81 as the second byte of a pair, a zero byte included.
int WINAPI PairingDecode(UINT, DWORD, LPCCH bytes, int count, LPWSTR text, int units) {
    int made = 0;
    for (int i = 0; i < count; ++i, ++made) {
        wchar_t c = static_cast<unsigned char>(bytes[i]);
        if (c == 0x81 && i + 1 < count) {
            c = 0x4E00;
            ++i;
        }
        if (text && made < units)
            text[made] = c;
    }
    return made;
}

TEST_F(DriverPackagesFake, MentionsDriverReadsOnWhenTheDecoderPairsAZeroByteWithALeadByte) {
    InstallFakeDisk({{kInf + L"oem1.inf", std::string("A\x81\0KTest", 8)},
                     {kInf + L"oem2.inf", std::string("A\0KTest", 7)}});
    win32.MultiByteToWideChar = PairingDecode;
    EXPECT_TRUE(MentionsDriver(kInf + L"oem1.inf", L"KTest"));
    EXPECT_FALSE(MentionsDriver(kInf + L"oem2.inf", L"KTest"));
}

// --- UninstallOemInfs ------------------------------------------------------

TEST_F(DriverPackagesFake, UninstallOemInfsHandsBareNamesOfMatchingOemFilesToTheSetupApi) {
    InstallFakeDisk({{kInf + L"oem1.inf", "[Strings]\r\nModel=\"KTest Laser 1000\"\r\n"},
                     {kInf + L"oem1.PNF", std::string("\x01\x00KTest Laser 1000", 18)},
                     {kInf + L"oem2.inf", "Model=\"Other Printer\"\r\n"},
                     {kInf + L"OEM3.INF", "Model=\"KTest Laser 1000\"\r\n"},
                     {kInf + L"machine.inf", "KTest Laser 1000"},
                     {kInf + L"sub\\oem4.inf", "; ktest laser 1000 duplex\r\n"}});
    setupResult = FALSE;  // refusals change nothing

    EXPECT_TRUE(UninstallOemInfs(L"KTest Laser 1000"));
    EXPECT_EQ(events,
              (std::vector<std::wstring>{L"setup oem1.inf 1 null", L"setup oem4.inf 1 null"}));
    EXPECT_EQ(FakeTreeSearches().front(), kInf + L"*.*");
    EXPECT_EQ(windowsFolderLookups, 1);
    EXPECT_EQ(OperationLogText(), "");
    EXPECT_EQ(contents.size(), 6u);  // the setup API alone removes files

    // A copy the setup API could not delete because it is in use goes at the
    // restart; one that cannot be scheduled either fails the step.
    events.clear();
    setupError = ERROR_SHARING_VIOLATION;
    undeletable = {kInf + L"oem1.inf"};
    EXPECT_TRUE(UninstallOemInfs(L"KTest Laser 1000"));
    EXPECT_EQ(events,
              (std::vector<std::wstring>{L"setup oem1.inf 1 null", L"delete " + kInf + L"oem1.inf",
                                         L"restart " + kInf + L"oem1.inf", L"setup oem4.inf 1 null",
                                         L"delete " + kInf + L"sub\\oem4.inf"}));
    unschedulable = {kInf + L"oem1.inf"};
    EXPECT_FALSE(UninstallOemInfs(L"KTest Laser 1000"));
}

TEST_F(DriverPackagesFake, NothingMentionsTheDriverSoNothingIsUninstalledOrLaunched) {
    InstallFakeDisk({{kInf + L"oem1.inf", "Model=\"Other Printer\"\r\n"},
                     {kRepository + L"other.inf_x86_1\\other.inf", "Model=\"Other Printer\"\r\n"}});
    EXPECT_TRUE(UninstallOemInfs(L"KTest Laser 1000"));
    EXPECT_TRUE(PurgeDriverStore(L"KTest Laser 1000"));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(contents.size(), 2u);
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(DriverPackagesFake, UnknownWindowsFolderSearchesNothing) {
    InstallFakeDisk({{kInf + L"oem1.inf", "KTest"}, {kRepository + L"k\\k.inf", "KTest"}});
    windowsFolderKnown = false;
    EXPECT_TRUE(UninstallOemInfs(L"KTest"));
    EXPECT_TRUE(PurgeDriverStore(L"KTest"));
    EXPECT_TRUE(FakeTreeSearches().empty());
    EXPECT_TRUE(events.empty());
}

// --- PurgeDriverStore ------------------------------------------------------

TEST_F(DriverPackagesFake, PurgeTakesOverWaitsThenDeletesEachMatchingPackageOnce) {
    const std::wstring ktest = kRepository + L"ktest.inf_x86_1\\";
    const std::wstring other = kRepository + L"other.inf_x86_2\\";
    InstallFakeDisk({{ktest + L"ktest.inf", "Model=\"KTest Laser 1000\"\r\n"},
                     {ktest + L"ktest.sys", "MZ"},
                     {ktest + L"x86\\ktest.dll", "MZ"},
                     {ktest + L"ktest_fax.inf", "Model=\"KTest Laser 1000 Fax\"\r\n"},
                     {other + L"other.inf", "Model=\"Other Printer\"\r\n"}});

    EXPECT_TRUE(PurgeDriverStore(L"KTest Laser 1000"));
    // ktest_fax.inf mentions the driver too, but its package is gone by its turn.
    EXPECT_EQ(events, (std::vector<std::wstring>{
                          L"delete " + ktest + L"ktest.inf",
                          L"delete " + ktest + L"ktest.sys",
                          L"delete " + ktest + L"x86\\ktest.dll",
                          L"rmdir " + ktest + L"x86\\",
                          L"delete " + ktest + L"ktest_fax.inf",
                          L"rmdir " + ktest,
                      }));
    EXPECT_EQ(contents.count(other + L"other.inf"), 1u);
    EXPECT_EQ(FakeSecurity().owned.front(), ktest.substr(0, ktest.size() - 1));
    EXPECT_EQ(FakeSecurity().owned.size(), 6u) << "the package with everything in it";
    EXPECT_EQ(FakeTreeSearches().front(), kRepository + L"*.*");
    EXPECT_EQ(OperationLogText(), "");
}

// A file in use goes at the restart, after it the folders that it keeps from
// being emptied, deepest first; the run goes on. Only a file that can be
// neither deleted nor scheduled fails, in whichever package it lies.
TEST_F(DriverPackagesFake, HeldFileIsScheduledWithItsFoldersAndOnlyAnUnschedulableOneFails) {
    const std::wstring first = kRepository + L"a.inf_x86_1\\";
    const std::wstring last = kRepository + L"b.inf_x86_2\\";
    const std::wstring held = first + L"x86\\a.sys";
    const std::vector<std::pair<std::wstring, std::string>> disk = {
        {first + L"a.inf", "KTest Laser"},
        {held, "MZ"},
        {last + L"b.inf", "KTest Laser"},
        {last + L"b.sys", "MZ"}};
    const std::vector<std::wstring> lastPackage = {L"delete " + last + L"b.inf",
                                                   L"delete " + last + L"b.sys", L"rmdir " + last};
    struct Case {
        const char* name;
        bool schedulable;
        BOOL result;
        std::vector<std::wstring> firstPackage;
        std::vector<std::string> log;  // records, without timestamps and system texts
    };
    const std::string shownHeld = Utf8(held);
    const Case cases[] = {
        {"in use",
         true,
         TRUE,
         {L"delete " + first + L"a.inf", L"delete " + held, L"restart " + held,
          L"rmdir " + first + L"x86\\", L"restart " + first + L"x86", L"rmdir " + first,
          L"restart " + first.substr(0, first.size() - 1)},
         {"文件正在使用，将在重启后删除：" + shownHeld,
          "文件正在使用，将在重启后删除：" + Utf8(first) + "x86\\",
          "文件正在使用，将在重启后删除：" + Utf8(first)}},
        {"not schedulable",
         false,
         FALSE,
         {L"delete " + first + L"a.inf", L"delete " + held, L"restart " + held,
          L"rmdir " + first + L"x86\\", L"rmdir " + first},
         {"DeleteFile" + shownHeld + " failed with error 5",
          "MoveFileEx" + shownHeld + " failed with error 5",
          "RemoveDirectory failed with error 145", "RemoveDirectory failed with error 145"}},
    };
    WriteOperationLogAsUtf8();
    for (const Case& c : cases) {
        ResetOperationLog();
        events.clear();
        InstallFakeDisk(disk);
        undeletable = {held, first + L"x86\\", first};
        unschedulable.clear();
        if (!c.schedulable)
            unschedulable = {held};
        EXPECT_EQ(PurgeDriverStore(L"KTest Laser"), c.result) << c.name;
        std::vector<std::wstring> expected = c.firstPackage;
        expected.insert(expected.end(), lastPackage.begin(), lastPackage.end());
        EXPECT_EQ(events, expected) << c.name;
        std::vector<std::string> records;
        const std::string log = OperationLogText();
        for (size_t at = 0; at < log.size(); at = log.find('\0', at) + 1) {
            std::string record = log.substr(at, log.find('\0', at) - at);
            record = record.substr(0, record.find("     "));
            const size_t code = record.find(" failed with error ");
            records.push_back(code == std::string::npos ? record
                                                        : record.substr(0, record.find(':', code)));
        }
        EXPECT_EQ(records, c.log) << c.name;
    }
}

TEST_F(DriverPackagesFake, InfDirectlyInTheRepositoryIsPassedOver) {
    const std::wstring package = kRepository + L"ktest.inf_x86_1\\";
    InstallFakeDisk({{kRepository + L"stray.inf", "KTest Laser"},
                     {package + L"ktest.inf", "KTest Laser"},
                     {kRepository + L"zstray.inf", "KTest Laser"}});
    undeletable = {package};  // the passed-over strays must not decide the result

    EXPECT_FALSE(PurgeDriverStore(L"KTest Laser"));
    EXPECT_EQ(events, (std::vector<std::wstring>{L"delete " + package + L"ktest.inf",
                                                 L"rmdir " + package}));
    EXPECT_EQ(contents.count(kRepository + L"stray.inf"), 1u);
}

// --- ScanDriverPackages ----------------------------------------------------

const std::wstring kDriver = L"KTest Laser 1000";
const std::vector<std::wstring> kRemaining = {L"Other Model", L"KTest Laser 1000 PS"};

// "<path> goes" or "<path> stays: <reason>" for every match of the scan.
std::vector<std::wstring> Verdicts(const PackageScan& scan) {
    std::vector<std::wstring> verdicts;
    for (const PackageMatch& match : scan.oemInfs) {
        verdicts.push_back(
            match.inf + (match.keptBecause.empty() ? L" goes" : L" stays: " + match.keptBecause));
    }
    for (const PackageMatch& match : scan.packages) {
        verdicts.push_back(match.folder + (match.keptBecause.empty()
                                               ? L" goes"
                                               : L" stays: " + match.keptBecause));
    }
    return verdicts;
}

TEST_F(DriverPackagesFake, ScanOpensEachCandidateOnceAndNeverEntersWindowsOwnPackages) {
    const std::wstring own = kRepository + L"ntprint.inf_amd64_1\\";
    const std::wstring ktest = kRepository + L"ktest.inf_amd64_2\\";
    const std::string twoModels = "\"KTest Laser 1000\" = GDI\r\n\"KTest Laser 1000 PS\" = PS\r\n";
    InstallFakeDisk({
        {kInf + L"ntprint.inf", "\"KTest Laser 1000\" = INBOX\r\n"},
        // The PNF comes first: its verdict is its INF's, read then and only then.
        {kInf + L"oem1.PNF", std::string("KTest Laser 1000\0\x01\x02", 19)},
        {kInf + L"oem1.inf", twoModels},
        {kInf + L"oem2.inf", "Model=\"Other Printer\"\r\n"},
        {kInf + L"sub\\oem3.inf", "; ktest laser 1000\r\n"},
        {kInf + L"sub\\deeper\\readme.txt", "KTest Laser 1000"},
        {own + L"ntprint.inf", "\"KTest Laser 1000\" = INBOX\r\n"},
        {own + L"amd64\\extra.inf", "KTest Laser 1000"},
        {ktest + L"ktest.inf", "Model=\"KTest Laser 1000\"\r\n"},
        {kRepository + L"other.inf_amd64_3\\other.inf", "Model=\"Other Printer\"\r\n"},
    });

    const PackageScan scan = ScanDriverPackages(kDriver, kRemaining);
    EXPECT_EQ(Verdicts(scan), (std::vector<std::wstring>{
                                  kInf + L"oem1.PNF stays: used by driver KTest Laser 1000 PS",
                                  kInf + L"oem1.inf stays: used by driver KTest Laser 1000 PS",
                                  kInf + L"sub\\oem3.inf goes",
                                  ktest + L" goes",
                              }));
    EXPECT_EQ(scan.oemInfs[2].matchedLine, L"; ktest laser 1000");
    EXPECT_EQ(scan.windowsPackages, 1u);
    // An INF that names the driver and is kept for nothing else is read a
    // second time, whole, for the models it declares; every other once.
    const std::map<std::wstring, int> onceEach = {
        {kInf + L"oem1.PNF", 1},   {kInf + L"oem1.inf", 1},
        {kInf + L"oem2.inf", 1},   {kInf + L"sub\\oem3.inf", 2},
        {ktest + L"ktest.inf", 2}, {kRepository + L"other.inf_amd64_3\\other.inf", 1}};
    EXPECT_EQ(opens, onceEach);
    const std::vector<std::wstring>& searches = FakeTreeSearches();
    EXPECT_EQ(std::count(searches.begin(), searches.end(), own + L"*.*"), 0);

    // Without the oem step, the names published in the inf folder are looked
    // up in that folder alone, not in its sub-folders.
    InstallFakeDisk({{kInf + L"ntprint.inf", ""},
                     {kInf + L"sub\\oem3.inf", ""},
                     {own + L"ntprint.inf", "KTest Laser 1000"}});
    EXPECT_TRUE(PurgeDriverStore(kDriver));
    EXPECT_EQ(FakeTreeSearches(), (std::vector<std::wstring>{kRepository + L"*.*", kInf + L"*.*"}));
    EXPECT_TRUE(events.empty());
}

TEST_F(DriverPackagesFake, ScanReadsNoFurtherThanAnotherClassOrTheTextsEnd) {
    const std::string bulk(100000, 'x');
    const std::string scanner =
        "[Version]\r\nClass=Image\r\n[Models]\r\n" + bulk + "KTest Laser 1000";
    const std::string printer =
        "[Version]\r\nClass=Printer\r\n[Models]\r\n" + bulk + "KTest Laser 1000";
    const std::string named =
        "[Version]\r\nProvider=\"KTest Laser 1000\"\r\nClassGuid={6bdd1fc6-810f-"
        "11d0-bec7-08002be2092f}\r\n" +
        bulk;
    const std::string pnf = std::string("\x01\x01\x02\0", 4) + bulk + "KTest Laser 1000";
    InstallFakeDisk({{kInf + L"oem1.inf", scanner},
                     {kInf + L"oem2.inf", printer},
                     {kInf + L"oem3.inf", named},
                     {kInf + L"oem4.PNF", pnf}});

    const PackageScan scan = ScanDriverPackages(kDriver, kRemaining);
    EXPECT_EQ(Verdicts(scan),
              (std::vector<std::wstring>{
                  kInf + L"oem2.inf goes",
                  kInf + L"oem3.inf stays: another device class ({6bdd1fc6-810f-11d0-bec7-"
                         L"08002be2092f})"}));
    EXPECT_EQ(scan.oemInfs[1].matchedLine, L"Provider=\"KTest Laser 1000\"");
    // A scanner's INF is read to its [Version] class line, a PNF to its first
    // zero byte: the first read of each, a small part of the file.
    for (const wchar_t* file : {L"oem1.inf", L"oem3.inf", L"oem4.PNF"})
        EXPECT_LE(bytesRead[kInf + file], 4096u) << Utf8(file);
    // The printer INF that goes is read twice: the scan, then its models.
    EXPECT_EQ(bytesRead[kInf + L"oem2.inf"], 2 * printer.size());
}

TEST_F(DriverPackagesFake, ScanReadsOnWhenTheDecoderPairsAZeroByteWithALeadByte) {
    InstallFakeDisk({{kInf + L"oem1.inf", std::string("A\x81\0KTest Laser 1000", 19)},
                     {kInf + L"oem2.inf", std::string("A\0KTest Laser 1000", 18)}});
    win32.MultiByteToWideChar = PairingDecode;
    EXPECT_EQ(Verdicts(ScanDriverPackages(kDriver, kRemaining)),
              std::vector<std::wstring>{kInf + L"oem1.inf goes"});
}

// INF lines of `size` bytes in all, ending with a line break.
std::string Filler(size_t size) {
    std::string text;
    while (text.size() + 128 < size)
        text += "; filler " + std::string(53, '.') + "\r\n";
    return text + "; " + std::string(size - text.size() - 4, '.') + "\r\n";
}

// Each probe is scanned with the reads' boundaries (after 4 KiB, then every
// 64 KiB) falling at every third of its first 60 units, and each time the
// verdict and line are those that the whole text gives.
TEST_F(DriverPackagesFake, ScanGivesTheWholeTextsVerdictWhereverTheReadsSplitIt) {
    const std::vector<std::string> probes = {
        "\"KTest Laser 1000 PS\" = PS, USBPRINT\\KTest1000PS\r\n",
        "Model =  \t KTest Laser 1000 PS  \t ; the PS model\r\nOther=Other Model",
        "Name=\"KTest Laser 1000 PSX\" ; Other Model\r\n",
        "[Version]\r\nProvider=\"KTest Laser 1000\"\r\nClass = Image ; scanner\r\n",
        "[Version]\r\nClass=Printer\r\n[Models]\r\n\"ktest laser 1000\"=X,\"Other Model\"\r\n",
        "; " + std::string(70000, 'x') + " ktest LASER 1000 " + std::string(70000, 'y') + "\r\n",
    };
    std::vector<std::pair<std::wstring, std::string>> disk;
    for (const std::string& probe : probes) {
        for (size_t cut = 1; cut < std::min<size_t>(probe.size(), 60); cut += 3) {
            for (const size_t boundary : {size_t{4096}, size_t{4096 + 65536}})
                disk.push_back({kInf + L"oem" + std::to_wstring(disk.size()) + L".inf",
                                Filler(boundary - cut) + probe});
        }
    }
    InstallFakeDisk(disk);

    const PackageScan scan = ScanDriverPackages(kDriver, kRemaining);
    ASSERT_EQ(scan.oemInfs.size(), disk.size());
    for (size_t i = 0; i < disk.size(); ++i) {
        const std::wstring text = ReadInfText(disk[i].first);
        EXPECT_EQ(scan.oemInfs[i].keptBecause, ReasonToKeepPackage(text, kRemaining)) << i;
        EXPECT_EQ(scan.oemInfs[i].matchedLine, LineMentioningDriver(text, kDriver)) << i;
    }
}

// --- INFs as vendors and Windows save them ---------------------------------

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

struct TwinCase {
    const char* what;
    std::string inf;  // ASCII: the same text saved as ANSI and as UTF-16 LE
};

// Each INF saved twice, ANSI and UTF-16 LE, must get the same verdict and
// line: a match, a whole value of another model, another class, Windows'
// own provider, tokens of [Strings] and [Strings.0804].
TEST_F(DriverPackagesFake, Utf16InfGetsTheVerdictOfItsAnsiTwin) {
    const std::vector<TwinCase> cases = {
        {"the quoted model", "[Version]\r\nClass=Printer\r\n\"KTest Laser 1000\" = GDI\r\n"},
        {"another installed model", "\"KTest Laser 1000\" = GDI\r\n\"ktest laser 1000 ps\"=PS\r\n"},
        {"only a longer name", "Model=\"KTest Laser 1000 PSX\"\r\n"},
        {"a scanner", "; KTest Laser 1000 scanner\r\n[Version]\r\nClass=Image\r\n"},
        {"an oem copy of ntprint.inf",
         "[Version]\r\nClass=Printer\r\nProvider=%MSFT%\r\n[Models]\r\n"
         "\"KTest Laser 1000\" = TTY\r\n[Strings]\r\nMSFT=\"Microsoft\"\r\n"},
        {"Microsoft named outright",
         "[Version]\r\nProvider = Microsoft ; inbox\r\nKTest Laser 1000\r\n"},
        {"a token of [Strings.0804] only",
         "[Version]\r\nProvider=%Kt%\r\n[M]\r\n%Gdi% = GDI\r\n[Strings]\r\nKt=\"KTest\"\r\n"
         "Gdi=\"KTest Laser 1000\"\r\n[Strings.0804]\r\nGdi = Other Model\r\n"},
        {"Microsoft in another section",
         "[Version]\r\nProvider=%Kt%\r\n[Other]\r\nKt=Microsoft\r\n"
         "KTest Laser 1000\r\n"},
    };
    std::vector<std::pair<std::wstring, std::string>> disk;
    for (const TwinCase& c : cases) {
        const std::wstring stem = kInf + L"oem" + std::to_wstring(disk.size());
        disk.push_back({stem + L"0.inf", c.inf});
        disk.push_back({stem + L"1.inf", Utf16LeFile(Wide(c.inf))});
    }
    InstallFakeDisk(disk);

    const PackageScan scan = ScanDriverPackages(kDriver, kRemaining);
    ASSERT_EQ(scan.oemInfs.size(), disk.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const PackageMatch& ansi = scan.oemInfs[2 * i];
        const PackageMatch& utf16 = scan.oemInfs[2 * i + 1];
        EXPECT_EQ(utf16.keptBecause, ansi.keptBecause) << cases[i].what;
        EXPECT_EQ(utf16.matchedLine, ansi.matchedLine) << cases[i].what;
        EXPECT_EQ(ReadInfText(disk[2 * i + 1].first), Wide(cases[i].inf)) << cases[i].what;
    }
    EXPECT_EQ(Verdicts(scan)[0], disk[0].first + L" goes");
    const std::vector<std::wstring> reasons = {L"",
                                               L"used by driver KTest Laser 1000 PS",
                                               L"",
                                               L"another device class (Image)",
                                               WINDOWS_OWN_PACKAGE,
                                               WINDOWS_OWN_PACKAGE,
                                               L"used by driver Other Model",
                                               L""};
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(scan.oemInfs[2 * i].keptBecause, reasons[i]) << cases[i].what;
}

// A Chinese model name, as only a UTF-16 INF can hold it whatever the code
// page: found through [Strings.0804], and keeping the package when it is the
// name of a model that stays.
TEST_F(DriverPackagesFake, Utf16InfNamesChineseModelsThroughItsLocalizedStrings) {
    const std::wstring chinese = L"\u5C9A\u62D3 KV-2100 PCL6 \u6253\u5370\u673A\u9A71\u52A8";
    const std::wstring inf =
        L"[Version]\r\nClass=Printer\r\n[KV.NTamd64]\r\n%KV2100% = KV, USBPRINT\\KV2100\r\n"
        L"%KV2100PS% = KVPS\r\n[Strings]\r\nKV2100=\"KAVRO KV-2100 PCL6\"\r\n"
        L"KV2100PS=\"KAVRO KV-2100 PS\"\r\n[Strings.0804]\r\nKV2100=\"" +
        chinese + L"\"\r\nKV2100PS=\"" + chinese + L" PS\"\r\n";
    InstallFakeDisk({{kInf + L"oem1.inf", Utf16LeFile(inf)},
                     {kRepository + L"kv2100.inf_amd64_1\\kv2100.inf", Utf16LeFile(inf)}});

    PackageScan scan = ScanDriverPackages(chinese, {L"Other Model"});
    EXPECT_EQ(Verdicts(scan),
              (std::vector<std::wstring>{kInf + L"oem1.inf goes",
                                         kRepository + L"kv2100.inf_amd64_1\\ goes"}));
    EXPECT_EQ(scan.oemInfs[0].matchedLine, L"KV2100=\"" + chinese + L"\"");
    scan = ScanDriverPackages(chinese, {chinese + L" PS"});
    EXPECT_EQ(scan.oemInfs[0].keptBecause, L"used by driver " + chinese + L" PS");
}

// Bad UTF-16 (and unreadable files) give what can be read of them, or no
// text, and never cost the candidates after them their turn.
TEST_F(DriverPackagesFake, BadUtf16GivesWhatCanBeReadAndSkipsNoOtherCandidate) {
    const std::wstring name = L"KTest Laser 1000";
    const std::string named = Utf16LeFile(L"M=\"" + name + L"\"\r\n");
    const std::vector<std::pair<std::string, bool>> files = {
        {Utf16LeFile(L""), false},                   // the byte-order mark alone
        {named + "\x41", true},                      // an odd byte count: the last byte is no unit
        {named.substr(0, named.size() - 7), false},  // cut inside the name's last unit
        {Utf16LeFile(std::wstring(L"M=\0\"", 4) + name), false},  // a zero unit ends the text
        {Utf16LeFile(L"\xD800M=" + name + L"\xDC00"), true},      // unpaired surrogates are units
        {"\xFF", false},                                          // half a mark: ANSI, and no name
        {named, false},                                           // held open elsewhere
        {named, false},                                           // 2 GiB
    };
    std::vector<std::pair<std::wstring, std::string>> disk;
    for (const auto& [bytes, matches] : files) {
        const std::wstring stem = kInf + L"oem" + std::to_wstring(disk.size());
        disk.push_back({stem + L".inf", bytes});
        disk.push_back({stem + L"b.inf", named});  // the next candidate
    }
    InstallFakeDisk(disk);
    unopenable = {disk[12].first};
    reportedSizes = {{disk[14].first, LONGLONG{1} << 31}};

    std::vector<std::wstring> expected;
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].second)
            expected.push_back(disk[2 * i].first + L" goes");
        expected.push_back(disk[2 * i + 1].first + L" goes");
    }
    EXPECT_EQ(Verdicts(ScanDriverPackages(name, kRemaining)), expected);
    EXPECT_EQ(ReadInfText(disk[0].first), L"");
    EXPECT_EQ(ReadInfText(disk[6].first), std::wstring(L"M=", 2));
    EXPECT_EQ(bytesRead[disk[14].first], 0u);
    EXPECT_EQ(OperationLogText(), "");
}

}  // namespace
