// Where the two elevated programs load DLLs from: their import tables name
// only KnownDLLs, and DLLs planted beside copies of them are not loaded even
// when Wine is told to prefer a DLL beside the program to its own, which is
// how Windows searches for every DLL that is not a KnownDLL. The registry
// overrides these tests write are the private prefix's, removed afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "support/uninstall_process.h"

namespace {

// The KnownDLLs of Windows 7 to 11 (the KnownDLLs key under Session Manager),
// which Windows always maps from System32.
const std::set<std::string> KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll",  "combase.dll", "comdlg32.dll", "gdi32.dll",
    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",
    "msvcrt.dll",   "normaliz.dll", "nsi.dll",     "ole32.dll",    "oleaut32.dll",
    "psapi.dll",    "rpcrt4.dll",   "sechost.dll", "setupapi.dll", "shcore.dll",
    "shell32.dll",  "shlwapi.dll",  "user32.dll",  "wldap32.dll",  "ws2_32.dll"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The file offset of `rva` in a PE image, or 0 when no section holds it.
size_t OffsetOf(const std::string& image, const IMAGE_NT_HEADERS32* headers, DWORD rva) {
    const auto* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        reinterpret_cast<const char*>(&headers->OptionalHeader) +
        headers->FileHeader.SizeOfOptionalHeader);
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        const DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
            const size_t offset = rva - section->VirtualAddress + section->PointerToRawData;
            return offset < image.size() ? offset : 0;
        }
    }
    return 0;
}

// The DLL names of the import and delay-import tables of the image at
// `path`, lower-cased. 32- and 64-bit images alike.
std::vector<std::string> ImportedDlls(const std::wstring& path) {
    const std::string image = ReadBytes(path);
    std::vector<std::string> names;
    if (image.size() < sizeof(IMAGE_DOS_HEADER))
        return names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    const bool is64 = headers->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const IMAGE_DATA_DIRECTORY* directories =
        is64 ? reinterpret_cast<const IMAGE_NT_HEADERS64*>(headers)->OptionalHeader.DataDirectory
             : headers->OptionalHeader.DataDirectory;
    auto nameAt = [&](DWORD rva) {
        const size_t offset = OffsetOf(image, headers, rva);
        return offset ? Lower(image.c_str() + offset) : std::string("?");
    };
    size_t at = OffsetOf(image, headers, directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (; at && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= image.size();
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data() + at);
        if (entry->Name == 0)
            break;
        names.push_back(nameAt(entry->Name));
    }
    at = OffsetOf(image, headers, directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress);
    for (; at && at + sizeof(IMAGE_DELAYLOAD_DESCRIPTOR) <= image.size();
         at += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
        const auto* entry = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(image.data() + at);
        if (entry->DllNameRVA == 0)
            break;
        names.push_back(nameAt(entry->DllNameRVA));
    }
    return names;
}

TEST(DllSearch, BothProgramsImportOnlyKnownDlls) {
    for (const wchar_t* program : {L"Uninstall.exe", L"UninstallCli.exe", L"Installer.exe"}) {
        const std::vector<std::string> names = ImportedDlls(ExecutableFolder() + program);
        EXPECT_NE(std::find(names.begin(), names.end(), "kernel32.dll"), names.end())
            << Utf8(program) << ": import table not read";
        for (const std::string& name : names)
            EXPECT_TRUE(KNOWN_DLLS.count(name)) << Utf8(program) << " imports " << name;
    }
}

// Wine's name for a DLL in its overrides: without ".dll", other extensions kept.
std::wstring OverrideName(const std::wstring& dll) {
    const size_t length = dll.size();
    return length > 4 && _wcsicmp(dll.c_str() + length - 4, L".dll") == 0
               ? dll.substr(0, length - 4)
               : dll;
}

// Tells Wine to prefer, for the program `exeName`, the copies of `dlls` beside
// it to its own (native first), the way Windows searches for a DLL that is
// not a KnownDLL; removed again with the key when the object goes. Wine reads
// WINEDLLOVERRIDES only from the environment it was started with, so the
// per-program key of the private prefix's registry is used instead.
class NativeFirstOverrides {
  public:
    NativeFirstOverrides(const std::wstring& exeName, const std::vector<std::wstring>& dlls)
        : key_(L"Software\\Wine\\AppDefaults\\" + exeName) {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot write the overrides of " << Utf8(exeName);
            return;
        }
        static const wchar_t kNativeFirst[] = L"native,builtin";
        for (const std::wstring& dll : dlls)
            ::RegSetValueExW(key, OverrideName(dll).c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(kNativeFirst), sizeof kNativeFirst);
        ::RegCloseKey(key);
    }
    ~NativeFirstOverrides() { ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
    NativeFirstOverrides(const NativeFirstOverrides&) = delete;
    NativeFirstOverrides& operator=(const NativeFirstOverrides&) = delete;

  private:
    std::wstring key_;
};

// How far a run got: the awaited window showed, or the program ended by
// itself with exit code 0. A program that Windows cannot even start (a
// planted DLL without the exports it imports) gets neither.
enum class Goal { Window, CleanExit };

// Runs `program` (with `arguments`) from `folder` with Wine preferring the
// DLLs beside it for `dlls`, until it reaches `goal` or `limitMs` has passed,
// then ends it if it still runs. True when it reached the goal.
bool RunPreferringPlantedDlls(const std::wstring& folder,
                              const std::wstring& program,
                              const std::wstring& arguments,
                              const std::vector<std::wstring>& dlls,
                              Goal goal,
                              DWORD limitMs) {
    const NativeFirstOverrides overrides(program, dlls);
    std::wstring line = L"\"" + folder + program + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &process)) {
        ADD_FAILURE() << Utf8(line) << ": " << ::GetLastError();
        return false;
    }
    bool reached = false;
    if (goal == Goal::Window) {
        const DWORD id = process.dwProcessId;
        reached = WaitUntil(
            [id] {
                const HWND dialog = ::FindWindowW(L"#32770", L"岚拓打印机驱动卸载程序");
                DWORD owner = 0;
                ::GetWindowThreadProcessId(dialog, &owner);
                return dialog != nullptr && owner == id && ::IsWindowVisible(dialog);
            },
            limitMs);
    } else if (::WaitForSingleObject(process.hProcess, limitMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 1;
        reached = ::GetExitCodeProcess(process.hProcess, &exitCode) && exitCode == 0;
    }
    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return reached;
}

// The planted copies whose marker exists in `folder`.
std::vector<std::wstring> LoadedPlants(const std::wstring& folder,
                                       const std::vector<std::wstring>& dlls) {
    std::vector<std::wstring> loaded;
    for (const std::wstring& dll : dlls) {
        if (FileExists(folder + dll + L".loaded"))
            loaded.push_back(dll);
    }
    return loaded;
}

// Copies `program` and the planted DLL, under each name of `dlls`, into a
// fresh folder; proves with bare_loader that the copies are found there; then
// runs the program until `goal` and returns the plants it loaded.
std::vector<std::string> PlantsLoadedBy(const std::wstring& program,
                                        const std::vector<std::wstring>& dlls,
                                        Goal goal,
                                        const std::wstring& arguments = L"") {
    ScratchFolder scratch;
    const std::wstring folder = scratch.path();
    const std::wstring bin = ExecutableFolder();
    EXPECT_TRUE(::CopyFileW((bin + program).c_str(), (folder + program).c_str(), FALSE));
    EXPECT_TRUE(::CopyFileW((bin + L"bare_loader.exe").c_str(),
                            (folder + L"bare_loader.exe").c_str(), FALSE));
    std::wstring names;
    for (const std::wstring& dll : dlls) {
        EXPECT_TRUE(::CopyFileW((bin + L"planted.dll").c_str(), (folder + dll).c_str(), FALSE));
        names += L" " + dll;
    }

    EXPECT_TRUE(
        RunPreferringPlantedDlls(folder, L"bare_loader.exe", names, dlls, Goal::CleanExit, 30000));
    EXPECT_EQ(LoadedPlants(folder, dlls), dlls) << "the planted copies are not even found";
    for (const std::wstring& dll : dlls)
        ::DeleteFileW((folder + dll + L".loaded").c_str());

    EXPECT_TRUE(RunPreferringPlantedDlls(folder, program, arguments, dlls, goal, 30000))
        << Utf8(program) << " did not get as far as it should";
    std::vector<std::string> loaded;
    for (const std::wstring& dll : LoadedPlants(folder, dlls))
        loaded.push_back(Utf8(dll));
    return loaded;
}

TEST(DllSearch, UninstallLoadsNoDllPlantedBesideIt) {
    // The dialog shows once the spooler and the common controls have been used.
    EXPECT_EQ(PlantsLoadedBy(L"Uninstall.exe", {L"winspool.drv", L"comctl32.dll"}, Goal::Window),
              std::vector<std::string>{});
}

TEST(DllSearch, InstallerLoadsNoDllPlantedBesideIt) {
    // The setup programs are missing, so the launcher ends at once, with 0.
    EXPECT_EQ(PlantsLoadedBy(L"Installer.exe", {L"winspool.drv", L"comctl32.dll"}, Goal::CleanExit),
              std::vector<std::string>{});
}

TEST(DllSearch, ConsoleProgramLoadsNoDllPlantedBesideIt) {
    // "list" asks the spooler, then ends with 0.
    EXPECT_EQ(PlantsLoadedBy(L"UninstallCli.exe", {L"winspool.drv", L"comctl32.dll"},
                             Goal::CleanExit, L" list"),
              std::vector<std::string>{});
}

}  // namespace
