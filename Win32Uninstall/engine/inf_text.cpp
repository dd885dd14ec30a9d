#include "engine/inf_text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

// InfTextReader's reads: the first is small, since a [Version] section (all
// that a package of another device class needs) and a PNF's header (whose
// zero bytes end its text) lie in a file's first bytes; the others take about
// 64 KiB each.
constexpr size_t FIRST_READ_BYTES = 4 * 1024;
constexpr size_t READ_BYTES = 64 * 1024;

bool IsAsciiByte(char byte) {
    return static_cast<unsigned char>(byte) < 0x80;
}

bool StartsWithUtf16Mark(const std::vector<char>& bytes, size_t count) {
    return count >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
}

// Decodes `count` bytes from the ANSI code page into `text` from index `at`
// on; the number of units, or 0 when the bytes cannot be decoded.
int DecodeAnsiBytes(const char* bytes, size_t count, TextBuffer& text, size_t at) {
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

}  // namespace

std::wstring UpperAsciiOf(std::wstring text) {
    for (wchar_t& c : text)
        c = UpperAscii(c);
    return text;
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

NameSearch::NameSearch(const std::wstring& upperName) : name_(upperName) {
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

size_t NameSearch::Find(const wchar_t* text, size_t count) const {
    const size_t length = name_.size();
    const size_t last = length - 1;
    for (size_t at = 0; at + length <= count; at += skip_[text[at + last] & 0xFF]) {
        if (UpperAscii(text[at + last]) == name_[last] && SameUpTo(text + at, last))
            return at;
    }
    return std::wstring::npos;
}

bool NameSearch::SameUpTo(const wchar_t* text, size_t count) const {
    for (size_t i = 0; i < count; ++i) {
        if (UpperAscii(text[i]) != name_[i])
            return false;
    }
    return true;
}

void TextBuffer::Reserve(size_t units, size_t keep) {
    if (units <= capacity_)
        return;
    std::unique_ptr<wchar_t[]> larger(new wchar_t[units]);
    std::copy(data_.get(), data_.get() + keep, larger.get());
    data_ = std::move(larger);
    capacity_ = units;
}

InfTextReader::InfTextReader(const std::wstring& path)
    : file_(win32.CreateFileW(path.c_str(),
                              GENERIC_READ,
                              0,
                              nullptr,
                              OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL,
                              nullptr)) {
    LARGE_INTEGER size{};
    // The decoder takes byte counts as int, and no INF is that large: a file
    // of 2 GiB or more has no text.
    failed_ = !file_ || !win32.GetFileSizeEx(file_.get(), &size) || size.QuadPart <= 0 ||
              size.QuadPart >= INT_MAX;
    unread_ = failed_ ? 0 : static_cast<size_t>(size.QuadPart);
}

bool InfTextReader::Next(TextBuffer& text, size_t at, size_t& units, bool& ends) {
    units = 0;
    ends = false;
    if (failed_)
        return false;
    while (DecodableEnd() == begin_) {
        if (unread_ == 0) {  // every byte decoded (a last odd byte is no unit)
            ends = true;
            return true;
        }
        if (!ReadMore()) {
            failed_ = true;
            return false;
        }
    }
    failed_ = !(utf16_ ? DecodeUtf16(text, at, units, ends) : DecodeAnsi(text, at, units, ends));
    if (failed_)
        return false;
    ends = ends || (DecodableEnd() == begin_ && unread_ == 0);
    return true;
}

// The end of the bytes that can be decoded now; `begin_` when none can.
// UTF-16: every whole unit read. ANSI: through the first zero byte, else
// through the last ASCII byte (below 0x80), or all the bytes once the file
// has been read to its end. Every ANSI code page is ASCII-compatible and its
// double-byte lead bytes are 0x81 or above, so an ASCII byte always ends a
// character: either it stands alone or it is the second byte of a pair. The
// decoder starts afresh after it, and decoding slice by slice gives exactly
// the text that decoding the whole file at once gives.
size_t InfTextReader::DecodableEnd() const {
    if (utf16_)
        return begin_ + ((end_ - begin_) & ~size_t{1});
    if (end_ == begin_)
        return begin_;
    const char* bytes = bytes_.data();
    const void* zero = memchr(bytes + begin_, 0, end_ - begin_);
    if (zero != nullptr)
        return static_cast<size_t>(static_cast<const char*>(zero) - bytes) + 1;
    if (unread_ == 0)
        return end_;
    for (size_t at = end_; at > begin_; --at) {
        if (IsAsciiByte(bytes[at - 1]))
            return at;
    }
    return begin_;
}

// The units are the file's byte pairs, low byte first; the first zero unit
// ends the text.
bool InfTextReader::DecodeUtf16(TextBuffer& text, size_t at, size_t& units, bool& ends) {
    const size_t count = (DecodableEnd() - begin_) / 2;
    text.Reserve(at + count, at);
    // Windows runs little-endian only, where a byte pair low byte first is
    // the unit's own representation.
    static_assert(sizeof(wchar_t) == 2);
    wchar_t* into = text.data() + at;
    memcpy(into, bytes_.data() + begin_, count * sizeof(wchar_t));
    const wchar_t* zero = wmemchr(into, L'\0', count);
    ends = zero != nullptr;
    units = ends ? static_cast<size_t>(zero - into) : count;
    begin_ += 2 * (ends ? units + 1 : units);
    return true;
}

bool InfTextReader::DecodeAnsi(TextBuffer& text, size_t at, size_t& units, bool& ends) {
    const size_t end = DecodableEnd();
    const int decoded = DecodeAnsiBytes(bytes_.data() + begin_, end - begin_, text, at);
    if (decoded == 0)
        return false;
    units = static_cast<size_t>(decoded);
    // Only a zero byte decodes to NUL, and a slice ends at the first zero
    // byte; a double-byte decoder may have taken it as the second byte of a
    // pair after a lead byte, and the text then goes on.
    ends = bytes_[end - 1] == 0 && text.data()[at + units - 1] == L'\0';
    units -= ends ? 1 : 0;
    begin_ = end;
    return true;
}

// Moves the bytes not decoded yet to the front and reads the next bytes
// after them; false when the read fails or falls short of the file's size.
// The first read tells the encoding and passes over the byte-order mark.
bool InfTextReader::ReadMore() {
    const bool first = bytes_.empty();
    const size_t pending = end_ - begin_;
    if (pending > 0 && begin_ > 0)
        memmove(bytes_.data(), bytes_.data() + begin_, pending);
    begin_ = 0;
    end_ = pending;
    const size_t wanted = std::min(unread_, first ? FIRST_READ_BYTES : READ_BYTES);
    if (bytes_.size() < end_ + wanted)
        bytes_.resize(end_ + wanted);
    DWORD read = 0;
    if (!win32.ReadFile(file_.get(), bytes_.data() + end_, static_cast<DWORD>(wanted), &read,
                        nullptr) ||
        read != wanted)
        return false;
    end_ += wanted;
    unread_ -= wanted;
    if (first && StartsWithUtf16Mark(bytes_, end_)) {
        utf16_ = true;
        begin_ = 2;
    }
    return true;
}

std::wstring ReadInfText(const std::wstring& path) {
    try {
        InfTextReader reader(path);
        TextBuffer slice;
        std::wstring text;
        for (;;) {
            size_t units = 0;
            bool ends = false;
            if (!reader.Next(slice, 0, units, ends))
                return {};
            text.append(slice.data(), units);
            if (ends)
                return text;
        }
    } catch (const std::bad_alloc&) {
        return {};  // no room for the text: it is as good as unreadable
    }
}

bool InfFileContains(const std::wstring& path, const NameSearch& search) {
    try {
        InfTextReader reader(path);
        TextBuffer text;  // the tail of the previous slice, then this slice
        for (size_t kept = 0;;) {
            size_t units = 0;
            bool ends = false;
            if (!reader.Next(text, kept, units, ends))
                return false;
            const size_t total = kept + units;
            if (search.FoundIn(text.data(), total))
                return true;
            if (ends)
                return false;
            // A match may straddle two slices: keep all but one unit of a name.
            kept = std::min(total, search.size() - 1);
            memmove(text.data(), text.data() + total - kept, kept * sizeof(wchar_t));
        }
    } catch (const std::bad_alloc&) {
        return false;  // no room for the text: it is as good as unreadable
    }
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}
