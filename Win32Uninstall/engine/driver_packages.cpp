#include "engine/driver_packages.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <vector>

#include "engine/file_helpers.h"

namespace {

// The Windows folder without a trailing backslash; empty when the system
// cannot say where it is (the paths built from it would then be relative to
// whatever drive is current).
std::wstring WindowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (!win32.SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_WINDOWS, FALSE))
        return {};
    return std::wstring(buffer, wcsnlen(buffer, MAX_PATH));
}

// The text of a file is decoded in slices of about this many bytes, so that
// besides the file's bytes only one slice's UTF-16 text is held at a time.
constexpr size_t DECODE_SLICE_BYTES = 64 * 1024;

// Where the slice that starts at `begin` ends: right after an ASCII byte
// (below 0x80). Every ANSI code page is ASCII-compatible and its double-byte
// lead bytes are 0x81 or above, so an ASCII byte always ends a character:
// either it stands alone or it is the second byte of a pair. The decoder
// starts afresh after it, and decoding slice by slice gives exactly the text
// that decoding the whole buffer at once gives. The last byte of `bytes`, the
// zero that follows the file's bytes, is one.
size_t SliceEnd(const char* bytes, size_t begin, size_t size) {
    if (size - begin <= DECODE_SLICE_BYTES)
        return size;
    for (size_t at = begin + DECODE_SLICE_BYTES; at > begin; --at) {
        if (static_cast<unsigned char>(bytes[at - 1]) < 0x80)
            return at;
    }
    // No ASCII byte in the whole slice: run on to the next one.
    size_t at = begin + DECODE_SLICE_BYTES;
    while (static_cast<unsigned char>(bytes[at]) >= 0x80)
        ++at;
    return at + 1;
}

// Changes a-z into A-Z and leaves every other character as it is.
void UpperCaseAsciiLetters(wchar_t* text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (text[i] >= L'a' && text[i] <= L'z')
            text[i] = static_cast<wchar_t>(text[i] - (L'a' - L'A'));
    }
}

// Horspool's search for one name in many texts. The skip table is indexed by
// the low byte of a code unit: units that share it share the smallest skip,
// which stays safe.
class NameSearch {
  public:
    explicit NameSearch(const std::wstring& name) : name_(name) {
        const size_t last = name_.size() - 1;
        for (size_t& skip : skip_)
            skip = name_.size();
        for (size_t i = 0; i < last; ++i)
            skip_[name_[i] & 0xFF] = last - i;
    }
    size_t size() const { return name_.size(); }
    bool FoundIn(const wchar_t* text, size_t count) const {
        const size_t length = name_.size();
        const size_t last = length - 1;
        for (size_t at = 0; at + length <= count; at += skip_[text[at + last] & 0xFF]) {
            if (text[at + last] == name_[last] && wmemcmp(text + at, name_.data(), last) == 0) {
                return true;
            }
        }
        return false;
    }

  private:
    std::wstring name_;
    size_t skip_[256];
};

// Decodes `count` bytes from the ANSI code page into `text` from index `at`
// on (growing it as needed); the number of units, or 0 when the bytes cannot
// be decoded.
int DecodeAnsi(const char* bytes, size_t count, std::vector<wchar_t>& text, size_t at) {
    // No ANSI code page makes more UTF-16 units than bytes; should a decoder
    // ask for more, it is asked how many it needs.
    text.resize(at + count);
    int units = win32.MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count),
                                          text.data() + at, static_cast<int>(count));
    if (units > 0)
        return units;
    const int needed =
        win32.MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), nullptr, 0);
    if (needed <= 0)
        return 0;
    text.resize(at + static_cast<size_t>(needed));
    units = win32.MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), text.data() + at,
                                      needed);
    return units > 0 ? units : 0;
}

// TRUE when the upper-cased text of `file` (decoded from the ANSI code page
// up to its first NUL) contains the upper-cased name.
bool TextContains(const FileBytes& file, const NameSearch& search) {
    // The file's bytes with their trailing zero, so the text always ends.
    const char* bytes = file.bytes.data();
    const size_t size = file.length + 1;
    std::vector<wchar_t> text;  // the tail of the previous slice, then this slice
    size_t kept = 0;
    for (size_t begin = 0; begin < size;) {
        const size_t end = SliceEnd(bytes, begin, size);
        const int units = DecodeAnsi(bytes + begin, end - begin, text, kept);
        if (units == 0)
            return false;
        wchar_t* fresh = text.data() + kept;
        const wchar_t* nul = wmemchr(fresh, L'\0', static_cast<size_t>(units));
        const size_t freshCount =
            nul ? static_cast<size_t>(nul - fresh) : static_cast<size_t>(units);
        UpperCaseAsciiLetters(fresh, freshCount);
        const size_t total = kept + freshCount;
        if (search.FoundIn(text.data(), total))
            return true;
        if (nul)
            return false;
        // A match may straddle two slices: keep all but one unit of a name.
        kept = std::min(total, search.size() - 1);
        wmemmove(text.data(), text.data() + total - kept, kept);
        begin = end;
    }
    return false;
}

}  // namespace

BOOL MentionsDriver(const std::wstring& path, const std::wstring& driverName) {
    if (driverName.empty())
        return FALSE;
    std::wstring name = driverName;
    UpperCaseAsciiLetters(name.data(), name.size());
    const FileBytes file = ReadWholeFile(path);
    if (file.bytes.empty() || file.length == 0 || file.length >= INT_MAX)
        return FALSE;
    return TextContains(file, NameSearch(name)) ? TRUE : FALSE;
}

BOOL UninstallOemInfs(const std::wstring& driverName) {
    const std::wstring windows = WindowsFolder();
    if (windows.empty())
        return TRUE;
    FileList candidates;
    WalkFolder(candidates, windows + L"\\inf\\", WALK_COLLECT, L"oem", TRUE);
    for (const std::wstring& candidate : candidates) {
        if (!MentionsDriver(candidate, driverName))
            continue;
        const std::wstring fileName = FileNameOf(candidate);
        if (fileName.empty())
            continue;
        // The setup API removes the INF copy, its PNF and its package by
        // itself; a refusal changes nothing for the steps that follow.
        win32.SetupUninstallOEMInfW(fileName.c_str(), SUOI_FORCEDELETE, nullptr);
    }
    return TRUE;
}

BOOL PurgeDriverStore(const std::wstring& driverName) {
    const std::wstring windows = WindowsFolder();
    if (windows.empty())
        return TRUE;
    const std::wstring repository = windows + L"\\System32\\DriverStore\\FileRepository\\";
    FileList candidates;
    WalkFolder(candidates, repository, WALK_COLLECT, L".inf", TRUE);

    BOOL result = TRUE;
    for (const std::wstring& candidate : candidates) {
        if (!MentionsDriver(candidate, driverName))
            continue;
        const std::wstring package = FolderOf(candidate);
        // An INF outside any package folder would make the repository itself
        // the folder to delete, with every other driver's package in it.
        if (package.empty() || package == repository)
            continue;
        TakeOwnership(package);
        // The ownership command runs on its own; this is all the time it gets.
        win32.Sleep(2000);
        FileList unused;
        result = WalkFolder(unused, package, WALK_DELETE, L"", TRUE);
    }
    return result;
}
