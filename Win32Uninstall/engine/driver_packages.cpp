#include "engine/driver_packages.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "engine/file_helpers.h"
#include "platform/native_windows.h"

namespace {

// The text of a file is decoded in slices of about this many bytes, so that
// besides the file's bytes only one slice's UTF-16 text is held at a time.
constexpr size_t DECODE_SLICE_BYTES = 64 * 1024;

// The position of the first zero byte at or after `from` in the `size`
// bytes; the last of them must be zero (ReadWholeFile puts one after the
// file's bytes). Looks at four bytes at a time: a word holds a zero byte
// exactly when (w - 0x01010101) & ~w & 0x80808080 is not zero.
size_t FirstZeroByte(const char* bytes, size_t from, size_t size) {
    size_t at = from;
    for (; at + 4 <= size; at += 4) {
        uint32_t word;
        memcpy(&word, bytes + at, 4);
        if ((word - 0x01010101u) & ~word & 0x80808080u)
            break;
    }
    while (bytes[at] != 0)
        ++at;
    return at;
}

// Where the slice that starts at `begin` ends, `limit` at the latest: right
// after an ASCII byte (below 0x80). Every ANSI code page is ASCII-compatible
// and its double-byte lead bytes are 0x81 or above, so an ASCII byte always
// ends a character: either it stands alone or it is the second byte of a
// pair. The decoder starts afresh after it, and decoding slice by slice gives
// exactly the text that decoding the whole buffer at once gives. `limit` must
// follow an ASCII byte too (here: a zero byte).
size_t SliceEnd(const char* bytes, size_t begin, size_t limit) {
    if (limit - begin <= DECODE_SLICE_BYTES)
        return limit;
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

// a-z as A-Z; every other character as it is.
wchar_t UpperAscii(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}

// Horspool's search for one upper-cased name in texts that are upper-cased
// on the fly, so only the units the search looks at are folded. The skip
// table is indexed by the low byte of a unit (a letter's skip is set for both
// cases); units that share a low byte share the smallest skip, which is safe.
class NameSearch {
  public:
    explicit NameSearch(const std::wstring& upperName) : name_(upperName) {
        const size_t last = name_.size() - 1;
        for (size_t& skip : skip_)
            skip = name_.size();
        for (size_t i = 0; i < last; ++i) {
            const wchar_t c = name_[i];
            skip_[c & 0xFF] = last - i;
            if (c >= L'A' && c <= L'Z')
                skip_[(c + (L'a' - L'A')) & 0xFF] = last - i;
        }
    }
    size_t size() const { return name_.size(); }
    bool FoundIn(const wchar_t* text, size_t count) const {
        const size_t length = name_.size();
        const size_t last = length - 1;
        for (size_t at = 0; at + length <= count; at += skip_[text[at + last] & 0xFF]) {
            if (UpperAscii(text[at + last]) == name_[last] && SameUpTo(text + at, last))
                return true;
        }
        return false;
    }

  private:
    bool SameUpTo(const wchar_t* text, size_t count) const {
        for (size_t i = 0; i < count; ++i) {
            if (UpperAscii(text[i]) != name_[i])
                return false;
        }
        return true;
    }
    std::wstring name_;
    size_t skip_[256];
};

// Room for UTF-16 text that is not set to zero first: the decoder fills it.
class TextBuffer {
  public:
    wchar_t* data() { return data_.get(); }
    // Makes room for `units` units, keeping the first `keep`.
    void Reserve(size_t units, size_t keep) {
        if (units <= capacity_)
            return;
        std::unique_ptr<wchar_t[]> larger(new wchar_t[units]);
        std::copy(data_.get(), data_.get() + keep, larger.get());
        data_ = std::move(larger);
        capacity_ = units;
    }

  private:
    std::unique_ptr<wchar_t[]> data_;
    size_t capacity_ = 0;
};

// Decodes `count` bytes from the ANSI code page into `text` from index `at`
// on; the number of units, or 0 when the bytes cannot be decoded.
int DecodeAnsi(const char* bytes, size_t count, TextBuffer& text, size_t at) {
    // No ANSI code page makes more UTF-16 units than bytes; should a decoder
    // ask for more, it is asked how many it needs.
    text.Reserve(at + count, at);
    int units = win32.MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count),
                                          text.data() + at, static_cast<int>(count));
    if (units > 0)
        return units;
    const int needed =
        win32.MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), nullptr, 0);
    if (needed <= 0)
        return 0;
    text.Reserve(at + static_cast<size_t>(needed), at);
    units = win32.MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), text.data() + at,
                                      needed);
    return units > 0 ? units : 0;
}

// TRUE when the text of `file`, decoded from the ANSI code page up to its
// first NUL, contains the name, a-z and A-Z taken alike.
bool TextContains(const FileBytes& file, const NameSearch& search) {
    // Only a zero byte decodes to NUL, so each slice ends at the next zero
    // byte at the latest; the text ends with the first slice whose last unit
    // is that NUL. (A double-byte decoder may take a zero byte after a lead
    // byte as the pair's second byte; the text then goes on.)
    const char* bytes = file.bytes.data();
    const size_t size = file.length + 1;
    TextBuffer text;  // the tail of the previous slice, then this slice
    size_t kept = 0;
    size_t zero = FirstZeroByte(bytes, 0, size);
    for (size_t begin = 0; begin < size;) {
        if (zero < begin)
            zero = FirstZeroByte(bytes, begin, size);
        const size_t end = SliceEnd(bytes, begin, zero + 1);
        const int units = DecodeAnsi(bytes + begin, end - begin, text, kept);
        if (units == 0)
            return false;
        size_t total = kept + static_cast<size_t>(units);
        const bool textEnds = end == zero + 1 && text.data()[total - 1] == L'\0';
        if (textEnds)
            --total;
        if (search.FoundIn(text.data(), total))
            return true;
        if (textEnds)
            return false;
        // A match may straddle two slices: keep all but one unit of a name.
        kept = std::min(total, search.size() - 1);
        memmove(text.data(), text.data() + total - kept, kept * sizeof(wchar_t));
        begin = end;
    }
    return false;
}

}  // namespace

BOOL MentionsDriver(const std::wstring& path, const std::wstring& driverName) {
    if (driverName.empty())
        return FALSE;
    std::wstring name = driverName;
    for (wchar_t& c : name)
        c = UpperAscii(c);
    // A file that cannot be read has no text; neither has one of 2 GiB or
    // more, whose byte counts the decoder cannot take.
    const FileBytes file = ReadWholeFile(path);
    if (file.bytes.empty() || file.length == 0 || file.length >= INT_MAX)
        return FALSE;
    try {
        return TextContains(file, NameSearch(name)) ? TRUE : FALSE;
    } catch (const std::bad_alloc&) {
        return FALSE;  // no room for the text: it is as good as unreadable
    }
}

bool OemInfFolder(std::wstring& folder) {
    return WindowsFolder(folder, L"\\inf\\");
}

bool DriverStoreRepository(std::wstring& folder) {
    return NativeSystemFolder(folder, L"\\DriverStore\\FileRepository\\");
}

std::wstring LineMentioningDriver(const std::wstring& path, const std::wstring& driverName) {
    const FileBytes file = ReadWholeFile(path);
    if (driverName.empty() || file.bytes.empty() || file.length >= INT_MAX)
        return {};
    const int units = win32.MultiByteToWideChar(CP_ACP, 0, file.bytes.data(),
                                                static_cast<int>(file.length), nullptr, 0);
    std::wstring text(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) {
        win32.MultiByteToWideChar(CP_ACP, 0, file.bytes.data(), static_cast<int>(file.length),
                                  text.data(), units);
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    std::wstring name = driverName;
    for (wchar_t& c : name)
        c = UpperAscii(c);
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find(L'\n', begin), text.size());
        std::wstring line = text.substr(begin, end - begin);
        std::wstring upper = line;
        for (wchar_t& c : upper)
            c = UpperAscii(c);
        if (upper.find(name) != std::wstring::npos) {
            while (!line.empty() && (line.back() == L'\r' || line.back() == L' '))
                line.pop_back();
            return line.substr(std::min(line.find_first_not_of(L" \t"), line.size()));
        }
        begin = end + 1;
    }
    return {};
}

BOOL UninstallOemInfs(const std::wstring& driverName) {
    // Without the Windows folder there is no inf folder to look in.
    std::wstring folder;
    if (!OemInfFolder(folder))
        return TRUE;
    FileList candidates;
    WalkFolder(candidates, folder, WALK_COLLECT, L"oem", TRUE);
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
    std::wstring repository;
    if (!DriverStoreRepository(repository))
        return TRUE;
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
        FileList unused;
        result = WalkFolder(unused, package, WALK_DELETE, L"", TRUE);
    }
    return result;
}
