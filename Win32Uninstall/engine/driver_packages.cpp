#include "engine/driver_packages.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <set>

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

std::wstring UpperAsciiOf(std::wstring text) {
    for (wchar_t& c : text)
        c = UpperAscii(c);
    return text;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring Trimmed(const std::wstring& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (IsBlank(text[begin]) || text[begin] == L'\r'))
        ++begin;
    while (end > begin && (IsBlank(text[end - 1]) || text[end - 1] == L'\r'))
        --end;
    return text.substr(begin, end - begin);
}

// A [Version] value without its comment, blanks and quotes.
std::wstring ValueOf(const std::wstring& value) {
    std::wstring text = Trimmed(value.substr(0, value.find(L';')));
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"')
        text = text.substr(1, text.size() - 2);
    return text;
}

constexpr wchar_t PRINTER_CLASS_GUID[] = L"{4D36E979-E325-11CE-BFC1-08002BE10318}";

// The device class that the [Version] section of the INF declares when it is
// not printers' (its Class name, else its ClassGUID), or empty. `upper` is
// `text` with a-z upper-cased, line for line.
std::wstring OtherDeviceClass(const std::wstring& upper, const std::wstring& text) {
    bool inVersion = false;
    for (size_t begin = 0; begin < upper.size();) {
        const size_t end = std::min(upper.find(L'\n', begin), upper.size());
        const std::wstring line = Trimmed(upper.substr(begin, end - begin));
        const size_t lineBegin = begin;
        begin = end + 1;
        if (!line.empty() && line.front() == L'[') {
            if (inVersion)
                break;
            inVersion = line.rfind(L"[VERSION]", 0) == 0;
            continue;
        }
        const size_t equals = line.find(L'=');
        if (!inVersion || equals == std::wstring::npos)
            continue;
        const std::wstring key = Trimmed(line.substr(0, equals));
        const std::wstring value = ValueOf(line.substr(equals + 1));
        const bool otherClass = key == L"CLASS" && value != L"PRINTER";
        const bool otherGuid = key == L"CLASSGUID" && value != PRINTER_CLASS_GUID;
        if (otherClass || otherGuid) {
            // The value as the INF spells it.
            const std::wstring original = Trimmed(text.substr(lineBegin, end - lineBegin));
            return ValueOf(original.substr(original.find(L'=') + 1));
        }
    }
    return {};
}

bool EndsAValueBefore(wchar_t c) {
    return c == L'\r' || c == L'\n' || c == L'"' || c == L'=' || c == L',';
}

bool EndsAValueAfter(wchar_t c) {
    return c == L'\r' || c == L'\n' || c == L'"' || c == L'=' || c == L',' || c == L';';
}

// Whether `upperText` holds `upperName` as a whole value: bounded on both
// sides, blanks aside, by the text's or a line's ends, a quote, '=' or ','
// (or ';', a comment, after it). "KAVRO X" is not a whole value in
// "KAVRO X PS".
bool NamesAsWholeValue(const std::wstring& upperText, const std::wstring& upperName) {
    if (upperName.empty())
        return false;
    for (size_t at = upperText.find(upperName); at != std::wstring::npos;
         at = upperText.find(upperName, at + 1)) {
        size_t before = at;
        while (before > 0 && IsBlank(upperText[before - 1]))
            --before;
        size_t after = at + upperName.size();
        while (after < upperText.size() && IsBlank(upperText[after]))
            ++after;
        const bool startsValue = before == 0 || EndsAValueBefore(upperText[before - 1]);
        const bool endsValue = after == upperText.size() || EndsAValueAfter(upperText[after]);
        if (startsValue && endsValue)
            return true;
    }
    return false;
}

bool IsInfName(const std::wstring& path) {
    const std::wstring name = UpperInvariant(FileNameOf(path));
    return name.size() > 4 && name.compare(name.size() - 4, 4, L".INF") == 0;
}

// The match of one candidate's text, or false when it does not name the
// driver.
bool MatchText(const std::wstring& path,
               const std::wstring& text,
               const std::wstring& upperName,
               const std::wstring& driverName,
               PackageMatch& match) {
    if (text.empty() || !NameSearch(upperName).FoundIn(text.data(), text.size()))
        return false;
    match.inf = path;
    match.matchedLine = LineMentioningDriver(text, driverName);
    return true;
}

void AddOemMatch(std::vector<PackageMatch>& matches,
                 const std::wstring& candidate,
                 const std::wstring& upperName,
                 const std::wstring& driverName,
                 const std::vector<std::wstring>& remainingDrivers) {
    PackageMatch match;
    const std::wstring text = ReadInfText(candidate);
    if (!MatchText(candidate, text, upperName, driverName, match))
        return;
    // A precompiled oemN.PNF is no INF text: its INF beside it decides.
    const std::wstring infBeside = candidate.substr(0, candidate.rfind(L'.')) + L".inf";
    const bool decidedBeside = !IsInfName(candidate) && candidate.rfind(L'.') != std::wstring::npos;
    match.keptBecause =
        ReasonToKeepPackage(decidedBeside ? ReadInfText(infBeside) : text, remainingDrivers);
    matches.push_back(std::move(match));
}

void AddStoreMatch(std::vector<PackageMatch>& matches,
                   const std::wstring& candidate,
                   const std::wstring& folder,
                   const std::wstring& upperName,
                   const std::wstring& driverName,
                   const std::vector<std::wstring>& remainingDrivers) {
    PackageMatch match;
    const std::wstring text = ReadInfText(candidate);
    if (!MatchText(candidate, text, upperName, driverName, match))
        return;
    match.folder = folder;
    match.keptBecause = ReasonToKeepPackage(text, remainingDrivers);
    for (PackageMatch& listed : matches) {
        if (listed.folder != folder)
            continue;
        // The folder goes whole or stays whole.
        if (listed.keptBecause.empty())
            listed.keptBecause = match.keptBecause;
        return;
    }
    matches.push_back(std::move(match));
}

// The oem files of the inf folder that name the driver, each with its
// verdict. With `published`, also the upper-cased names of the files that lie
// directly in the inf folder, from the same walk.
std::vector<PackageMatch> MatchOemInfs(const std::wstring& driverName,
                                       const std::vector<std::wstring>& remainingDrivers,
                                       std::set<std::wstring>* published) {
    std::vector<PackageMatch> matches;
    std::wstring infFolder;
    if (driverName.empty() || !OemInfFolder(infFolder))
        return matches;
    const std::wstring upperName = UpperAsciiOf(driverName);
    FileList files;
    WalkFolder(files, infFolder, WALK_COLLECT, published ? L"" : L"oem", TRUE);
    for (const std::wstring& file : files) {
        if (published != nullptr && FolderOf(file) == infFolder)
            published->insert(UpperInvariant(FileNameOf(file)));
        if (NameContains(file, L"oem"))
            AddOemMatch(matches, file, upperName, driverName, remainingDrivers);
    }
    return matches;
}

// The names of the files that lie directly in the inf folder, upper-cased.
std::set<std::wstring> PublishedInfNames() {
    std::set<std::wstring> names;
    std::wstring infFolder;
    if (!OemInfFolder(infFolder))
        return names;
    FileList files;
    WalkFolder(files, infFolder, WALK_COLLECT, L".", TRUE);
    for (const std::wstring& file : files) {
        if (FolderOf(file) == infFolder)
            names.insert(UpperInvariant(FileNameOf(file)));
    }
    return names;
}

// The store packages whose INF names the driver, one per folder, each with
// its verdict. Windows' own packages (an INF published under its own name,
// in `published`, else looked up once there are candidates) are counted in
// `windowsPackages` and not read.
std::vector<PackageMatch> MatchStorePackages(const std::wstring& driverName,
                                             const std::vector<std::wstring>& remainingDrivers,
                                             const std::set<std::wstring>* published,
                                             size_t* windowsPackages) {
    std::vector<PackageMatch> matches;
    std::wstring repository;
    if (driverName.empty() || !DriverStoreRepository(repository))
        return matches;
    FileList candidates;
    WalkFolder(candidates, repository, WALK_COLLECT, L".inf", TRUE);
    std::set<std::wstring> lookedUp;
    if (published == nullptr && !candidates.empty()) {
        lookedUp = PublishedInfNames();
        published = &lookedUp;
    }
    const std::wstring upperName = UpperAsciiOf(driverName);
    std::set<std::wstring> windowsFolders;
    for (const std::wstring& candidate : candidates) {
        const std::wstring folder = FolderOf(candidate);
        // An INF outside any package folder would make the repository itself
        // the folder to delete, with every other driver's package in it.
        if (folder.empty() || folder == repository)
            continue;
        if (published->count(UpperInvariant(FileNameOf(candidate)))) {
            windowsFolders.insert(folder);
            continue;
        }
        AddStoreMatch(matches, candidate, folder, upperName, driverName, remainingDrivers);
    }
    if (windowsPackages != nullptr)
        *windowsPackages = windowsFolders.size();
    return matches;
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

std::wstring ReadInfText(const std::wstring& path) {
    const FileBytes file = ReadWholeFile(path);
    if (file.bytes.empty() || file.length == 0 || file.length >= INT_MAX)
        return {};
    try {
        const int units = win32.MultiByteToWideChar(CP_ACP, 0, file.bytes.data(),
                                                    static_cast<int>(file.length), nullptr, 0);
        if (units <= 0)
            return {};
        std::wstring text(static_cast<size_t>(units), L'\0');
        win32.MultiByteToWideChar(CP_ACP, 0, file.bytes.data(), static_cast<int>(file.length),
                                  text.data(), units);
        text.resize(wcsnlen(text.c_str(), text.size()));
        return text;
    } catch (const std::bad_alloc&) {
        return {};  // no room for the text: it is as good as unreadable
    }
}

std::wstring LineMentioningDriver(const std::wstring& text, const std::wstring& driverName) {
    if (driverName.empty())
        return {};
    const std::wstring name = UpperAsciiOf(driverName);
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find(L'\n', begin), text.size());
        std::wstring line = text.substr(begin, end - begin);
        if (UpperAsciiOf(line).find(name) != std::wstring::npos)
            return Trimmed(line);
        begin = end + 1;
    }
    return {};
}

std::wstring ReasonToKeepPackage(const std::wstring& infText,
                                 const std::vector<std::wstring>& remainingDrivers) {
    const std::wstring upper = UpperAsciiOf(infText);
    const std::wstring deviceClass = OtherDeviceClass(upper, infText);
    if (!deviceClass.empty())
        return L"another device class (" + deviceClass + L")";
    for (const std::wstring& driver : remainingDrivers) {
        if (NamesAsWholeValue(upper, UpperAsciiOf(driver)))
            return L"used by driver " + driver;
    }
    return {};
}

PackageScan ScanDriverPackages(const std::wstring& driverName,
                               const std::vector<std::wstring>& remainingDrivers) {
    PackageScan scan;
    std::set<std::wstring> published;
    scan.oemInfs = MatchOemInfs(driverName, remainingDrivers, &published);
    scan.packages =
        MatchStorePackages(driverName, remainingDrivers, &published, &scan.windowsPackages);
    return scan;
}

BOOL UninstallOemInfs(const std::vector<PackageMatch>& matches) {
    for (const PackageMatch& match : matches) {
        const std::wstring fileName = FileNameOf(match.inf);
        if (!match.keptBecause.empty() || fileName.empty())
            continue;
        // The setup API removes the INF copy, its PNF and its package by
        // itself; a refusal changes nothing for the steps that follow.
        win32.SetupUninstallOEMInfW(fileName.c_str(), SUOI_FORCEDELETE, nullptr);
    }
    return TRUE;
}

BOOL UninstallOemInfs(const std::wstring& driverName) {
    return UninstallOemInfs(MatchOemInfs(driverName, {}, nullptr));
}

BOOL PurgeDriverStore(const std::vector<PackageMatch>& packages) {
    BOOL result = TRUE;
    for (const PackageMatch& package : packages) {
        if (!package.keptBecause.empty() || package.folder.empty())
            continue;
        TakeOwnership(package.folder);
        FileList unused;
        result = WalkFolder(unused, package.folder, WALK_DELETE, L"", TRUE);
    }
    return result;
}

BOOL PurgeDriverStore(const std::wstring& driverName) {
    return PurgeDriverStore(MatchStorePackages(driverName, {}, nullptr, nullptr));
}
