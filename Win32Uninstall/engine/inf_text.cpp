#include "engine/inf_text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// The text of a file in memory is decoded in slices of about this many bytes.
constexpr size_t DECODE_SLICE_BYTES = 64 * 1024;

// AnsiTextReader's reads: the first is small, since a [Version] section (all
// that a package of another device class needs) and a PNF's header (whose
// zero bytes end its text) lie in a file's first bytes; the others take a
// slice each.
constexpr size_t FIRST_READ_BYTES = 4 * 1024;
constexpr size_t READ_BYTES = DECODE_SLICE_BYTES;

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

bool IsAsciiByte(char byte) {
    return static_cast<unsigned char>(byte) < 0x80;
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
        if (IsAsciiByte(bytes[at - 1]))
            return at;
    }
    // No ASCII byte in the whole slice: run on to the next one.
    size_t at = begin + DECODE_SLICE_BYTES;
    while (!IsAsciiByte(bytes[at]))
        ++at;
    return at + 1;
}

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

AnsiTextReader::AnsiTextReader(const std::wstring& path)
    : file_(win32.CreateFileW(path.c_str(),
                              GENERIC_READ,
                              0,
                              nullptr,
                              OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL,
                              nullptr)) {
    LARGE_INTEGER size{};
    // The decoder takes byte counts as int: a file of 2 GiB or more has no text.
    failed_ = !file_ || !win32.GetFileSizeEx(file_.get(), &size) || size.QuadPart <= 0 ||
              size.QuadPart >= INT_MAX;
    unread_ = failed_ ? 0 : static_cast<size_t>(size.QuadPart);
}

bool AnsiTextReader::Next(TextBuffer& text, size_t at, size_t& units, bool& ends) {
    units = 0;
    ends = false;
    if (failed_)
        return false;
    size_t end = DecodableEnd();
    while (end == begin_) {
        if (unread_ == 0) {  // every byte decoded
            ends = true;
            return true;
        }
        if (!ReadMore()) {
            failed_ = true;
            return false;
        }
        end = DecodableEnd();
    }
    const int decoded = DecodeAnsi(bytes_.data() + begin_, end - begin_, text, at);
    failed_ = decoded == 0;
    if (failed_)
        return false;
    units = static_cast<size_t>(decoded);
    // Only a zero byte decodes to NUL, and a slice ends at the first zero
    // byte; a double-byte decoder may have taken it as the second byte of a
    // pair after a lead byte, and the text then goes on.
    ends = bytes_[end - 1] == 0 && text.data()[at + units - 1] == L'\0';
    units -= ends ? 1 : 0;
    begin_ = end;
    ends = ends || (begin_ == end_ && unread_ == 0);
    return true;
}

// The end of the bytes that can be decoded now: through the first zero byte,
// else through the last ASCII byte (see SliceEnd), or all the bytes once the
// file has been read to its end; `begin_` when none can.
size_t AnsiTextReader::DecodableEnd() const {
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

// Moves the bytes not decoded yet to the front and reads the next bytes
// after them; false when the read fails or falls short of the file's size.
bool AnsiTextReader::ReadMore() {
    const size_t pending = end_ - begin_;
    if (pending > 0 && begin_ > 0)
        memmove(bytes_.data(), bytes_.data() + begin_, pending);
    begin_ = 0;
    end_ = pending;
    const size_t wanted = std::min(unread_, bytes_.empty() ? FIRST_READ_BYTES : READ_BYTES);
    if (bytes_.size() < end_ + wanted)
        bytes_.resize(end_ + wanted);
    DWORD read = 0;
    if (!win32.ReadFile(file_.get(), bytes_.data() + end_, static_cast<DWORD>(wanted), &read,
                        nullptr) ||
        read != wanted)
        return false;
    end_ += wanted;
    unread_ -= wanted;
    return true;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}
