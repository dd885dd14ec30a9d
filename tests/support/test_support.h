// Helpers shared by the tests: restoring the seam, scratch folders on the
// private prefix's C: drive, and whole-file reads and writes that bypass the
// seam.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

// Restores the whole `win32` table when it goes out of scope, so that a test
// may replace any entry with a fake.
class ScopedWin32Fakes {
  public:
    ScopedWin32Fakes() : saved_(win32) {}
    ~ScopedWin32Fakes() { win32 = saved_; }
    ScopedWin32Fakes(const ScopedWin32Fakes&) = delete;
    ScopedWin32Fakes& operator=(const ScopedWin32Fakes&) = delete;

  private:
    Win32Api saved_;
};

// A fresh, empty folder under C:\ktest\ that is removed with everything in it
// when the object goes out of scope. path() ends with a backslash.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

// Removes a folder tree with the real Windows functions (read-only files too).
void RemoveTree(const std::wstring& folder);
// Creates every missing folder of `folder`.
void CreateFolders(const std::wstring& folder);
// Writes `bytes` to `path`, creating the folders on the way.
void WriteBytes(const std::wstring& path, const std::string& bytes);
// The entries as a multi-string: each ended by a NUL, and one NUL after them.
std::wstring MultiString(const std::vector<std::wstring>& entries);
// `text` as an INF saved in UTF-16 LE, as Windows wants one with any non-ASCII
// text: the byte-order mark, then each unit low byte first.
std::string Utf16LeFile(const std::wstring& text);
// The whole content of `path`; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// The folder of the running test executable, with a trailing backslash.
std::wstring ExecutableFolder();
// Windows' own System32 folder, as this process reaches it: through
// Sysnative in a WOW64 process. No trailing backslash.
std::wstring NativeSystem32();
// A path below NativeSystem32() as the program shows it to people (its log,
// its reports): through the system folder as Windows spells it
// (GetSystemDirectoryW), which is the folder a person finds.
std::wstring ShownPath(const std::wstring& nativePath);
// The printer environment of Windows' own drivers, for seeding them: "Windows
// x64" in a WOW64 process (the test prefix is x64), null (this process's own)
// otherwise. A 32-bit setup program installs the x64 driver the same way.
wchar_t* NativeSeedEnvironment();
// The path of a 64-bit helper program of the tests (demo_machine.exe,
// Uninstall.exe): beside a 64-bit test, in native64\ beside a 32-bit one.
std::wstring Native64Program(const std::wstring& name);
// The package as users unpack it, laid out in `folder`: `program` of this
// test's build, and its 64-bit build in x64\. Returns the path of the first;
// empty when a copy failed.
std::wstring LayOutPackage(const std::wstring& folder, const std::wstring& program);
// Runs `program` with `arguments` and waits for it, at most `limitMs`.
// Returns its exit code; STILL_ACTIVE (259) when it did not end (it is then
// ended), 0xFFFFFFFF when it could not start. With `output`, the program's
// standard output and error go to a file whose bytes end up there.
DWORD RunProgram(const std::wstring& program,
                 const std::wstring& arguments,
                 DWORD limitMs = 60000,
                 std::string* output = nullptr);
// The current user's Documents folder, without a trailing backslash.
std::wstring DocumentsFolder();
// Text in the ANSI code page, as the operation log and INF files hold it.
std::string Ansi(const std::wstring& text);
// UTF-8 for test messages.
std::string Utf8(const std::wstring& text);

// The supportedOS ids of Windows Vista, 7, 8, 8.1 and 10/11, as Microsoft
// publishes them, that both programs' manifests must declare.
extern const char* const SUPPORTED_OS_IDS[5];

// The operation log's files, for tests that check log lines.
// Removes Documents\岚拓打印机\ and sets logFileNumber back to 1.
void ResetOperationLog();
// The text of Log(1).txt (the records with their zero bytes).
std::string OperationLogText();
// The number of times `needle` occurs in `haystack`.
int CountOf(const std::string& haystack, const std::string& needle);
