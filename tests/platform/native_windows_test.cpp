// The machine Windows runs on, as the seam reports it, decides the printer
// environment the driver list asks for and the way to Windows' own System32.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "fakes/fake_machine.h"
#include "platform/native_windows.h"
#include "support/test_support.h"

namespace {

bool windowsFolderKnown = true;

BOOL WINAPI FakeWindowsFolder(HWND, LPWSTR path, int folder, BOOL) {
    if (folder != CSIDL_WINDOWS || !windowsFolderKnown) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    wcscpy(path, L"D:\\Win");
    return TRUE;
}

struct MachineCase {
    USHORT machine;
    bool wow64;
    bool withIsWow64Process2;
    const wchar_t* environment;  // null: the spooler's default
    const wchar_t* system32;
};

const MachineCase kMachines[] = {
    {IMAGE_FILE_MACHINE_AMD64, true, true, L"Windows x64", L"D:\\Win\\Sysnative"},
    {IMAGE_FILE_MACHINE_AMD64, false, true, L"Windows x64", L"D:\\Win\\System32"},
    {MACHINE_ARM64, true, true, L"Windows ARM64", L"D:\\Win\\Sysnative"},
    {MACHINE_ARM64, false, true, L"Windows ARM64", L"D:\\Win\\System32"},
    {IMAGE_FILE_MACHINE_I386, false, true, L"Windows NT x86", L"D:\\Win\\System32"},
    {IMAGE_FILE_MACHINE_IA64, false, true, nullptr, L"D:\\Win\\System32"},
    // Before Windows 10 1511: GetNativeSystemInfo and IsWow64Process answer.
    {IMAGE_FILE_MACHINE_AMD64, true, false, L"Windows x64", L"D:\\Win\\Sysnative"},
    {MACHINE_ARM64, true, false, L"Windows ARM64", L"D:\\Win\\Sysnative"},
    {IMAGE_FILE_MACHINE_I386, false, false, L"Windows NT x86", L"D:\\Win\\System32"},
    {IMAGE_FILE_MACHINE_IA64, false, false, nullptr, L"D:\\Win\\System32"},
};

TEST(NativeWindows, EnvironmentAndSystemFolderFollowTheMachineWindowsRunsOn) {
    ScopedWin32Fakes fakes;
    windowsFolderKnown = true;
    win32.SHGetSpecialFolderPathW = FakeWindowsFolder;
    for (const MachineCase& c : kMachines) {
        SCOPED_TRACE(testing::Message() << "machine 0x" << std::hex << c.machine << " wow64 "
                                        << c.wow64 << " IsWow64Process2 " << c.withIsWow64Process2);
        FakeNativeMachine(c.machine, c.wow64, c.withIsWow64Process2);
        const wchar_t* environment = NativePrinterEnvironment();
        EXPECT_EQ(environment ? std::wstring(environment) : L"(null)",
                  c.environment ? std::wstring(c.environment) : L"(null)");
        std::wstring system32;
        ASSERT_TRUE(NativeSystemFolder(system32));
        EXPECT_EQ(system32, c.system32);
    }
}

TEST(NativeWindows, UnknownWindowsFolderGivesNoSystemFolderAndKeepsTheShellsError) {
    ScopedWin32Fakes fakes;
    windowsFolderKnown = false;
    win32.SHGetSpecialFolderPathW = FakeWindowsFolder;
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, true);
    std::wstring folder = L"unchanged";
    EXPECT_FALSE(NativeSystemFolder(folder));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
    EXPECT_EQ(folder, L"unchanged");
}

UINT WINAPI FakeSystemDirectory(LPWSTR buffer, UINT size) {
    const wchar_t system[] = L"C:\\WINDOWS\\system32";
    if (size <= wcslen(system))
        return 0;
    wcscpy(buffer, system);
    return static_cast<UINT>(wcslen(system));
}

// Both builds write a file's path as Windows spells its system folder; a
// System32 or Sysnative folder that is not the system folder keeps its
// place.
TEST(NativeWindows, PathsShownToPeopleSpellTheSystemFolderAsWindowsDoes) {
    ScopedWin32Fakes fakes;
    win32.GetSystemDirectoryW = FakeSystemDirectory;
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"C:\\Windows\\Sysnative\\spool\\PRINTERS\\1.SPL",
         L"C:\\WINDOWS\\system32\\spool\\PRINTERS\\1.SPL"},
        {L"C:\\Windows\\System32\\spool\\PRINTERS\\1.SPL",
         L"C:\\WINDOWS\\system32\\spool\\PRINTERS\\1.SPL"},
        {L"c:\\windows\\SYSNATIVE", L"C:\\WINDOWS\\system32"},
        {L"D:\\Win\\Sysnative\\DriverStore\\", L"D:\\Win\\System32\\DriverStore\\"},
        {L"D:\\Win\\sysnative", L"D:\\Win\\System32"},
        {L"D:\\Win\\System32\\spool\\x.dll", L"D:\\Win\\System32\\spool\\x.dll"},
        {L"C:\\Windows\\SysnativeX\\a", L"C:\\Windows\\SysnativeX\\a"},
        {L"C:\\Data\\Sysnativ", L"C:\\Data\\Sysnativ"},
        {L"", L""},
    };
    for (const auto& [path, shown] : cases)
        EXPECT_EQ(PathShownToPeople(path), shown) << Utf8(path);
}

}  // namespace
