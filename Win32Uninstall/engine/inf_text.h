// The text of an INF file as every step and report that reads one reads it
// (InfTextReader: UTF-16 LE or ANSI, as Windows tells them apart), in slices;
// and the case folding (a-z as A-Z, nothing else) and name search that the
// steps apply to it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/unique_handles.h"

// a-z as A-Z; every other character as it is.
inline wchar_t UpperAscii(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}

// `text` with a-z upper-cased.
std::wstring UpperAsciiOf(std::wstring text);

// `text` without the blanks (space, tab) and carriage returns at its ends.
std::wstring Trimmed(const std::wstring& text);

// Horspool's search for one upper-cased name in texts that are upper-cased
// on the fly, so only the units the search looks at are folded. The skip
// table is indexed by the low byte of a unit (a letter's skip is set for both
// cases); units that share a low byte share the smallest skip, which is safe.
class NameSearch {
  public:
    // `upperName` must not be empty.
    explicit NameSearch(const std::wstring& upperName);
    size_t size() const { return name_.size(); }
    // The position of the first occurrence of the name in the `count` units,
    // or npos.
    size_t Find(const wchar_t* text, size_t count) const;
    bool FoundIn(const wchar_t* text, size_t count) const {
        return Find(text, count) != std::wstring::npos;
    }

  private:
    bool SameUpTo(const wchar_t* text, size_t count) const;
    std::wstring name_;
    size_t skip_[256];
};

// Room for UTF-16 text that is not set to zero first: the decoder fills it.
class TextBuffer {
  public:
    wchar_t* data() { return data_.get(); }
    const wchar_t* data() const { return data_.get(); }
    // Makes room for `units` units, keeping the first `keep`.
    void Reserve(size_t units, size_t keep);

  private:
    std::unique_ptr<wchar_t[]> data_;
    size_t capacity_ = 0;
};

// Reads the text of one INF file slice by slice, as Windows reads an INF: a
// file that starts with the UTF-16 LE byte-order mark is UTF-16 LE (the mark
// is not text; a last odd byte is no unit); any other file is ANSI, decoded
// from the system code page. Either text ends at its first NUL: a zero unit,
// or a zero byte that the decoder makes NUL. Each file byte is read once and
// nothing is read past the text's end; besides a slice's bytes only one
// slice's UTF-16 text is held at a time. The file is opened for reading
// without sharing, as ReadWholeFile opens it; one that cannot be opened or
// read, is empty, or is of 2 GiB or more has no text. Decoding slice by slice
// gives exactly the text that decoding the whole file at once and cutting it
// at its first NUL gives (see DecodableEnd in inf_text.cpp). Units are passed
// on as the file has them: an unpaired surrogate is one unit like any other.
class InfTextReader {
  public:
    explicit InfTextReader(const std::wstring& path);
    InfTextReader(const InfTextReader&) = delete;
    InfTextReader& operator=(const InfTextReader&) = delete;

    // Decodes the next slice into `text` from index `at` on and says how many
    // units it added and whether the text ends with them (the NUL that ends
    // it is not added). False when the file has no text, or cannot be read or
    // decoded on: what was read is then no text either.
    bool Next(TextBuffer& text, size_t at, size_t& units, bool& ends);

  private:
    bool ReadMore();
    size_t DecodableEnd() const;
    bool DecodeUtf16(TextBuffer& text, size_t at, size_t& units, bool& ends);
    bool DecodeAnsi(TextBuffer& text, size_t at, size_t& units, bool& ends);

    unique_file file_;
    size_t unread_ = 0;        // bytes of the file not read yet
    std::vector<char> bytes_;  // read and not decoded yet: [begin_, end_)
    size_t begin_ = 0;
    size_t end_ = 0;
    bool failed_ = false;
    bool utf16_ = false;  // told by the first read
};

// The whole text of the INF at `path`, as InfTextReader reads it; empty when
// it has none or there is no room for it.
std::wstring ReadInfText(const std::wstring& path);

// TRUE when the text of the INF at `path` (see InfTextReader) contains the
// name of `search`; reads no further than the first occurrence.
bool InfFileContains(const std::wstring& path, const NameSearch& search);

// A blank within an INF line: a space or a tab.
bool IsBlank(wchar_t c);
