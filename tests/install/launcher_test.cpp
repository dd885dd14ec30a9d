// The launcher's choice of setup program and the way it starts it, with its
// Windows calls replaced by fakes through `launcherApi`.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher.h"
#include "launcher_api.h"

namespace {

// Restores the whole `launcherApi` table when it goes out of scope.
class ScopedLauncherFakes {
  public:
    ScopedLauncherFakes() : saved_(launcherApi) {}
    ~ScopedLauncherFakes() { launcherApi = saved_; }
    ScopedLauncherFakes(const ScopedLauncherFakes&) = delete;
    ScopedLauncherFakes& operator=(const ScopedLauncherFakes&) = delete;

  private:
    LauncherApi saved_;
};

const HMODULE FAKE_KERNEL32 = reinterpret_cast<HMODULE>(0x7B800000);

// What the fake Windows reports.
std::wstring modulePath;
DWORD moduleFileNameError = 0;
bool nativeLookupExported = true;
WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
WORD legacyArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
INT_PTR shellResult = 42;

// What the launcher asked for.
std::vector<DWORD> moduleBufferUnits;
std::vector<HMODULE> modulesAsked;

struct ShellCall {
    HWND owner;
    std::wstring verb;
    std::wstring file;
    bool hasParameters;
    bool hasDirectory;
    INT show;
};
std::vector<ShellCall> shellCalls;

// Like Windows: copies what fits and terminates it; a path that does not fit
// is cut, and the call returns the buffer size with ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI FakeGetModuleFileName(HMODULE module, LPWSTR buffer, DWORD units) {
    modulesAsked.push_back(module);
    moduleBufferUnits.push_back(units);
    if (moduleFileNameError != 0) {
        ::SetLastError(moduleFileNameError);
        return 0;
    }
    if (modulePath.size() < units) {
        modulePath.copy(buffer, modulePath.size());
        buffer[modulePath.size()] = L'\0';
        ::SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(modulePath.size());
    }
    modulePath.copy(buffer, units - 1);
    buffer[units - 1] = L'\0';
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return units;
}

HMODULE WINAPI FakeGetModuleHandle(LPCWSTR name) {
    if (name != nullptr && _wcsicmp(name, L"kernel32.dll") == 0)
        return FAKE_KERNEL32;
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

void WINAPI FakeGetNativeSystemInfo(LPSYSTEM_INFO info) {
    *info = SYSTEM_INFO{};
    info->wProcessorArchitecture = nativeArchitecture;
}

// Finds GetNativeSystemInfo only under its exact name in kernel32.
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (nativeLookupExported && module == FAKE_KERNEL32 && HIWORD(name) != 0 &&
        std::string(name) == "GetNativeSystemInfo") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeGetNativeSystemInfo));
    }
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

void WINAPI FakeGetSystemInfo(LPSYSTEM_INFO info) {
    *info = SYSTEM_INFO{};
    info->wProcessorArchitecture = legacyArchitecture;
}

HINSTANCE WINAPI FakeShellExecute(HWND owner,
                                  LPCWSTR verb,
                                  LPCWSTR file,
                                  LPCWSTR parameters,
                                  LPCWSTR directory,
                                  INT show) {
    shellCalls.push_back({owner, verb ? verb : L"<null>", file ? file : L"<null>",
                          parameters != nullptr, directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(shellResult);
}

class Launcher : public ::testing::Test {
  protected:
    void SetUp() override {
        modulePath = L"D:\\pkg\\Installer.exe";
        moduleFileNameError = 0;
        nativeLookupExported = true;
        nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
        legacyArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
        shellResult = 42;
        moduleBufferUnits.clear();
        modulesAsked.clear();
        shellCalls.clear();
        launcherApi.GetModuleFileNameW = FakeGetModuleFileName;
        launcherApi.GetModuleHandleW = FakeGetModuleHandle;
        launcherApi.GetProcAddress = FakeGetProcAddress;
        launcherApi.GetSystemInfo = FakeGetSystemInfo;
        launcherApi.ShellExecuteW = FakeShellExecute;
    }

    // The one file the launcher opened.
    std::wstring StartedFile() {
        StartSetupProgram();
        if (shellCalls.size() != 1) {
            ADD_FAILURE() << "ShellExecuteW called " << shellCalls.size() << " times";
            return {};
        }
        return shellCalls[0].file;
    }

    ScopedLauncherFakes fakes;
};

struct ArchitectureCase {
    WORD architecture;
    const wchar_t* setupProgram;
};

void PrintTo(const ArchitectureCase& value, std::ostream* out) {
    *out << value.architecture << " -> ";
    for (const wchar_t* c = value.setupProgram; *c; ++c)
        *out << static_cast<char>(*c);
}

class LauncherArchitecture : public Launcher,
                             public ::testing::WithParamInterface<ArchitectureCase> {};

// GetSystemInfo always reports the opposite choice, as it does for a 32-bit
// process on 64-bit Windows: only the native answer may decide.
TEST_P(LauncherArchitecture, NativeArchitectureChoosesTheSetupProgramBesideTheLauncher) {
    nativeArchitecture = GetParam().architecture;
    legacyArchitecture = GetParam().setupProgram == std::wstring(L"Setup_X64.exe")
                             ? PROCESSOR_ARCHITECTURE_INTEL
                             : PROCESSOR_ARCHITECTURE_AMD64;
    EXPECT_EQ(StartedFile(),
              std::wstring(L"D:\\pkg\\KAVROPrinterDriver\\") + GetParam().setupProgram);
}

INSTANTIATE_TEST_SUITE_P(KnownAndOtherValues,
                         LauncherArchitecture,
                         ::testing::Values(ArchitectureCase{0, L"Setup_i386.exe"},   // Intel x86
                                           ArchitectureCase{5, L"Setup_i386.exe"},   // ARM
                                           ArchitectureCase{6, L"Setup_X64.exe"},    // Itanium
                                           ArchitectureCase{9, L"Setup_X64.exe"},    // AMD64
                                           ArchitectureCase{12, L"Setup_i386.exe"},  // ARM64
                                           ArchitectureCase{0xFFFF, L"Setup_i386.exe"}),  // unknown
                         [](const ::testing::TestParamInfo<ArchitectureCase>& info) {
                             return "Architecture" + std::to_string(info.param.architecture);
                         });

TEST_F(Launcher, WithoutGetNativeSystemInfoGetSystemInfoDecides) {
    nativeLookupExported = false;
    nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    legacyArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    EXPECT_EQ(StartedFile(), L"D:\\pkg\\KAVROPrinterDriver\\Setup_X64.exe");

    shellCalls.clear();
    nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    legacyArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    EXPECT_EQ(StartedFile(), L"D:\\pkg\\KAVROPrinterDriver\\Setup_i386.exe");
}

TEST_F(Launcher, OpensTheSetupProgramOnceWithOpenVerbNoParametersNoFolderAndShowCommand5) {
    shellResult = SE_ERR_FNF;  // a missing setup program changes nothing
    StartSetupProgram();
    ASSERT_EQ(shellCalls.size(), 1u);
    const ShellCall& call = shellCalls[0];
    EXPECT_EQ(call.owner, nullptr);
    EXPECT_EQ(call.verb, L"open");
    EXPECT_EQ(call.file, L"D:\\pkg\\KAVROPrinterDriver\\Setup_X64.exe");
    EXPECT_FALSE(call.hasParameters);
    EXPECT_FALSE(call.hasDirectory);
    EXPECT_EQ(call.show, SW_SHOW);
    // The path is that of the launcher's own executable.
    ASSERT_FALSE(modulesAsked.empty());
    EXPECT_EQ(modulesAsked[0], nullptr);
    EXPECT_EQ(moduleBufferUnits[0], 260u);
}

TEST_F(Launcher, ModulePathWithoutBackslashGivesSetupPathRelativeToCurrentFolder) {
    modulePath = L"Installer.exe";
    EXPECT_EQ(StartedFile(), L"KAVROPrinterDriver\\Setup_X64.exe");
}

TEST_F(Launcher, UnreadableModulePathGivesSetupPathRelativeToCurrentFolder) {
    moduleFileNameError = ERROR_NOT_ENOUGH_MEMORY;
    nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    EXPECT_EQ(StartedFile(), L"KAVROPrinterDriver\\Setup_i386.exe");
}

TEST_F(Launcher, ModulePathLongerThan260UnitsIsReadWholeInsteadOfNamingAParentFolder) {
    // Cut at 259 units this path ends inside the long folder name, and cutting
    // that after its last backslash would give C:\pkgs\.
    const std::wstring folder = L"C:\\pkgs\\" + std::wstring(300, L'x') + L"\\";
    modulePath = folder + L"Installer.exe";
    EXPECT_EQ(StartedFile(), folder + L"KAVROPrinterDriver\\Setup_X64.exe");
    ASSERT_GE(moduleBufferUnits.size(), 2u);
    EXPECT_EQ(moduleBufferUnits[0], 260u);
}

TEST_F(Launcher, ModulePathOfExactly259UnitsIsUsedAsRead) {
    // The longest path that fits the first buffer with its terminator.
    const std::wstring folder = L"C:\\" + std::wstring(259 - 3 - 14, L'p') + L"\\";
    modulePath = folder + L"Installer.exe";
    ASSERT_EQ(modulePath.size(), 259u);
    EXPECT_EQ(StartedFile(), folder + L"KAVROPrinterDriver\\Setup_X64.exe");
}

}  // namespace
