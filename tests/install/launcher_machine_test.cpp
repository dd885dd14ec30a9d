// Installer.exe under Wine: a copy of the built launcher is laid out with the
// stand-in setup programs like the driver package and started as a process of
// its own; the stand-ins leave a marker that tells how they were started.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

// Bound for every wait on a process or a marker. The launcher and the
// stand-ins need milliseconds; the bound only keeps a fault from hanging.
constexpr DWORD WAIT_LIMIT_MS = 30000;
constexpr DWORD POLL_MS = 20;

const wchar_t* const SETUP_PROGRAMS[] = {L"Setup_X64.exe", L"Setup_i386.exe"};

bool IsSixtyFourBitWindows() {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

// The setup program the launcher should pick here, judged independently of
// the launcher's own query.
std::wstring NativeSetupProgram() {
    return IsSixtyFourBitWindows() ? L"Setup_X64.exe" : L"Setup_i386.exe";
}

std::wstring OtherSetupProgram() {
    return IsSixtyFourBitWindows() ? L"Setup_i386.exe" : L"Setup_X64.exe";
}

// Places <folder>Installer.exe and, when asked, both stand-ins in
// <folder>KAVROPrinterDriver\.
void LayOutPackage(const std::wstring& folder, bool withSetupPrograms) {
    CreateFolders(folder + L"KAVROPrinterDriver");
    const std::wstring built = ExecutableFolder();
    ASSERT_TRUE(
        ::CopyFileW((built + L"Installer.exe").c_str(), (folder + L"Installer.exe").c_str(), FALSE))
        << ::GetLastError();
    if (!withSetupPrograms)
        return;
    for (const wchar_t* program : SETUP_PROGRAMS) {
        const std::wstring target = folder + L"KAVROPrinterDriver\\" + program;
        ASSERT_TRUE(::CopyFileW((built + program).c_str(), target.c_str(), FALSE))
            << Utf8(program) << " " << ::GetLastError();
    }
}

struct LauncherRun {
    bool started = false;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    bool showedWindow = false;
};

struct WindowSearch {
    DWORD processId;
    bool found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && ::IsWindowVisible(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

// Starts <folder>Installer.exe with `arguments` in `workingFolder` and waits
// for it to end, looking for visible top-level windows of it meanwhile. The
// exit code comes from Windows itself, not cut to 8 bits.
LauncherRun RunInstaller(const std::wstring& folder,
                         const std::wstring& arguments,
                         const std::wstring& workingFolder) {
    LauncherRun run;
    std::wstring commandLine = L"\"" + folder + L"Installer.exe\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workingFolder.c_str(), &startup, &process)) {
        ADD_FAILURE() << "CreateProcess " << ::GetLastError();
        return run;
    }
    run.started = true;
    ::CloseHandle(process.hThread);
    const DWORD begin = ::GetTickCount();
    while (!run.ended && ::GetTickCount() - begin < WAIT_LIMIT_MS) {
        WindowSearch search{process.dwProcessId, false};
        ::EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        run.showedWindow = run.showedWindow || search.found;
        run.ended = ::WaitForSingleObject(process.hProcess, POLL_MS) == WAIT_OBJECT_0;
    }
    if (!run.ended)
        ::TerminateProcess(process.hProcess, 1);
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    ::CloseHandle(process.hProcess);
    return run;
}

// The lines of a stand-in's marker: key -> values in order.
using Marker = std::multimap<std::string, std::string>;

std::string Field(const Marker& marker, const std::string& key) {
    const auto found = marker.find(key);
    return found == marker.end() ? "<none>" : found->second;
}

Marker ParseMarker(const std::string& text) {
    Marker marker;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            marker.emplace(line.substr(0, equals), line.substr(equals + 1));
        start = end + 2;
    }
    return marker;
}

std::wstring MarkerOf(const std::wstring& folder, const std::wstring& program) {
    return folder + L"KAVROPrinterDriver\\" + program + L".marker";
}

// The launcher does not wait for the setup program, so its marker may appear
// after the launcher has ended. Once it is there, waits for the stand-in to
// end as well, so that the scratch folder can be removed.
std::optional<Marker> WaitForMarker(const std::wstring& path) {
    const DWORD begin = ::GetTickCount();
    while (!FileExists(path)) {
        if (::GetTickCount() - begin >= WAIT_LIMIT_MS)
            return std::nullopt;
        ::Sleep(POLL_MS);
    }
    Marker marker = ParseMarker(ReadBytes(path));
    const DWORD processId = static_cast<DWORD>(std::stoul(Field(marker, "process")));
    if (HANDLE setup = ::OpenProcess(SYNCHRONIZE, FALSE, processId)) {
        ::WaitForSingleObject(setup, WAIT_LIMIT_MS);
        ::CloseHandle(setup);
    }
    return marker;
}

class InstallerRun : public ::testing::Test {
  protected:
    void SetUp() override { CreateFolders(workingFolder); }

    // Runs the launcher laid out in `folder` and checks what every run must
    // show: exit code 0, no window, and the native setup program started once
    // from the package folder, in the launcher's working folder, without
    // arguments.
    void ExpectNativeSetupStarted(const std::wstring& folder, const std::wstring& arguments) {
        const LauncherRun run = RunInstaller(folder, arguments, workingFolder);
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.showedWindow);
        ASSERT_TRUE(run.ended) << "Installer.exe did not end";
        EXPECT_EQ(run.exitCode, 0u);

        const std::optional<Marker> marker = WaitForMarker(MarkerOf(folder, NativeSetupProgram()));
        ASSERT_TRUE(marker) << Utf8(NativeSetupProgram()) << " was not started"
                            << (FileExists(MarkerOf(folder, OtherSetupProgram()))
                                    ? ", " + Utf8(OtherSetupProgram()) + " was"
                                    : "");
        EXPECT_EQ(Field(*marker, "program"),
                  Utf8(folder + L"KAVROPrinterDriver\\" + NativeSetupProgram()));
        EXPECT_EQ(Field(*marker, "folder"), Utf8(workingFolder));
        EXPECT_EQ(Field(*marker, "arguments"), "0");
        EXPECT_FALSE(FileExists(MarkerOf(folder, OtherSetupProgram())));
    }

    ScratchFolder scratch;
    // The launcher's current folder, which the setup program inherits.
    const std::wstring workingFolder = scratch.path() + L"work";
};

// The shipped i686 launcher runs under WoW64 here, where GetSystemInfo would
// report an Intel processor.
TEST_F(InstallerRun, OnSixtyFourBitWindowsStartsSetupX64) {
    ASSERT_TRUE(IsSixtyFourBitWindows()) << "the tests expect 64-bit Wine";
    const std::wstring folder = scratch.path() + L"pkg\\";
    ASSERT_NO_FATAL_FAILURE(LayOutPackage(folder, true));
    ExpectNativeSetupStarted(folder, L"");
    EXPECT_EQ(NativeSetupProgram(), L"Setup_X64.exe");
}

TEST_F(InstallerRun, FolderWithBlanksAndChineseCharactersStillFindsItsSetupProgram) {
    const std::wstring folder = scratch.path() + L"岚拓 打印机\\驱动 安装 包\\";
    ASSERT_NO_FATAL_FAILURE(LayOutPackage(folder, true));
    ExpectNativeSetupStarted(folder, L"");
}

TEST_F(InstallerRun, ExtraArgumentsChangeNothing) {
    const std::wstring folder = scratch.path() + L"pkg\\";
    ASSERT_NO_FATAL_FAILURE(LayOutPackage(folder, true));
    ExpectNativeSetupStarted(folder, L" /S --arch=i386 \"KAVROPrinterDriver\\" +
                                         OtherSetupProgram() + L"\" 中文 \"a b\"");
}

TEST_F(InstallerRun, MissingSetupProgramStillExitsWithZeroAndShowsNoWindow) {
    const std::wstring folder = scratch.path() + L"pkg\\";
    ASSERT_NO_FATAL_FAILURE(LayOutPackage(folder, false));
    const LauncherRun run = RunInstaller(folder, L"", workingFolder);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.showedWindow);
    ASSERT_TRUE(run.ended) << "Installer.exe did not end";
    EXPECT_EQ(run.exitCode, 0u);
}

// The built executable itself: subsystem and resources.
class InstallerImage : public ::testing::Test {
  protected:
    void SetUp() override {
        module = ::LoadLibraryExW((ExecutableFolder() + L"Installer.exe").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << ::GetLastError();
    }
    void TearDown() override {
        if (module != nullptr)
            ::FreeLibrary(module);
    }

    // The bytes of one resource in one language; empty when it is missing.
    std::string Resource(LPCWSTR type, LPCWSTR name, WORD language) {
        HRSRC found = ::FindResourceExW(module, type, name, language);
        if (found == nullptr)
            return {};
        const void* data = ::LockResource(::LoadResource(module, found));
        return std::string(static_cast<const char*>(data), ::SizeofResource(module, found));
    }

    HMODULE module = nullptr;
};

const WORD CHINESE_PRC = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
const WORD ENGLISH_US = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

TEST_F(InstallerImage, IsBuiltForTheGuiSubsystemSoNoConsoleAppears) {
    const std::string image = ReadBytes(ExecutableFolder() + L"Installer.exe");
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    // Subsystem lies at the same place in 32- and 64-bit optional headers.
    const size_t subsystem = static_cast<size_t>(dos->e_lfanew) + 4 + sizeof(IMAGE_FILE_HEADER) +
                             offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem);
    ASSERT_LT(subsystem + 2, image.size());
    EXPECT_EQ(*reinterpret_cast<const WORD*>(image.data() + subsystem),
              IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST_F(InstallerImage, IconGroup101HoldsFiveImagesFrom128To32PixelsAt32Bits) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(101), CHINESE_PRC);
    ASSERT_GE(group.size(), 6u);
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(count, 5);
    ASSERT_EQ(group.size(), 6 + count * sizeof(GroupEntry));
    const int sizes[] = {128, 96, 64, 48, 32};
    for (int i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const GroupEntry*>(group.data() + 6) + i;
        EXPECT_EQ(entry->width, sizes[i]);
        EXPECT_EQ(entry->height, sizes[i]);
        EXPECT_EQ(entry->bitCount, 32);
        const std::string image = Resource(RT_ICON, MAKEINTRESOURCEW(entry->id), CHINESE_PRC);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER)) << "image " << entry->id;
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(header->biWidth, sizes[i]);
        EXPECT_EQ(header->biHeight, 2 * sizes[i]);  // colour and mask
        EXPECT_EQ(header->biBitCount, 32);
    }
}

TEST_F(InstallerImage, String103IsWin32InstallInChinesePrc) {
    // String 103 is the eighth counted string of block 7.
    const std::string block = Resource(RT_STRING, MAKEINTRESOURCEW(103 / 16 + 1), CHINESE_PRC);
    ASSERT_FALSE(block.empty());
    const auto* units = reinterpret_cast<const wchar_t*>(block.data());
    const size_t total = block.size() / sizeof(wchar_t);
    size_t at = 0;
    for (int i = 0; i < 103 % 16 && at < total; ++i)
        at += 1 + units[at];
    ASSERT_LT(at, total);
    EXPECT_EQ(std::wstring(units + at + 1, units[at]), L"win32Install");
}

TEST_F(InstallerImage, ManifestRequiresAdministratorWithoutUiAccessAndDeclaresVistaTo11) {
    const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), ENGLISH_US);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    for (const char* id : SUPPORTED_OS_IDS)
        EXPECT_NE(manifest.find("<supportedOS Id=\"" + std::string(id) + "\"/>"), std::string::npos)
            << id;
}

}  // namespace
