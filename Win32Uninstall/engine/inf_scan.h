// One pass over the text of a driver package's INF (see inf_text.h: UTF-16 LE
// or ANSI) for every name a removal needs: whether it names the driver being
// removed, and on which line; the device class its [Version] section declares
// when that is not printers'; whether its provider is Microsoft; and the first
// of the drivers that stay that it names as a whole value. Letters a-z and A-Z
// are taken alike, no other characters.
#pragma once

#include <memory>
#include <string>
#include <vector>

class NameSearch;
class NameTrie;

// What one pass over an INF's text tells.
struct InfFindings {
    bool namesDriver = false;  // the text contains the removed driver's name
    // The first line that contains it, without its line break and the blanks
    // around it, as LineMentioningDriver gives it (empty for a name that
    // holds a line break).
    std::wstring matchedLine;
    // The Class of the first [Version] section, else its ClassGUID, as the INF
    // spells it, when it is not printers' ("Printer",
    // {4D36E979-E325-11CE-BFC1-08002BE10318}); empty when none is declared.
    std::wstring otherDeviceClass;
    // Its [Version] Provider is Microsoft ("Microsoft" or "Microsoft
    // Corporation", a-z folded), named outright or through a %token% that a
    // [Strings] or [Strings.<language>] section defines so: one of Windows'
    // own packages, however it was published.
    bool microsoftProvider = false;
    // The index of the first of the remaining drivers that the text names as
    // a whole value (quoted, or a whole field of a line: bounded, blanks aside,
    // by the text's or a line's ends, a quote, '=' or ',', or after it ';'),
    // or npos.
    size_t namedDriver = std::wstring::npos;
};

// The names of one removal, prepared once for every file of its scan: the
// removed driver's, and those of the drivers that stay (empty ones name
// nothing).
class InfNames {
  public:
    InfNames(const std::wstring& driverName, const std::vector<std::wstring>& remainingDrivers);
    ~InfNames();
    InfNames(const InfNames&) = delete;
    InfNames& operator=(const InfNames&) = delete;

    const NameSearch* removed() const { return removed_.get(); }  // null for an empty name
    bool removedHoldsLineBreak() const { return removedHoldsLineBreak_; }
    const NameTrie& remaining() const { return *remaining_; }

  private:
    std::unique_ptr<NameSearch> removed_;
    bool removedHoldsLineBreak_ = false;
    std::unique_ptr<NameTrie> remaining_;
};

// Reads the file at `path` once, slice by slice, and tells what its text says
// of `names`. An INF whose [Version] section declares another device class is
// read no further than the line that declares it (whatever follows could not
// make its package go), so its findings are those of the text up to there. A
// file without text (see InfTextReader) gives no findings.
InfFindings ScanInfFile(const std::wstring& path, const InfNames& names);

// The findings for a text in memory, as those of a file with that text.
InfFindings ScanInfText(const std::wstring& text, const InfNames& names);
