// One pass over the text of a driver package's INF (see inf_text.h: UTF-16 LE
// or ANSI) for every name a removal needs: whether it names each driver being
// removed, and on which line; the device class its [Version] section declares
// when that is not printers'; whether its provider is Microsoft; and which of
// the installed drivers it names as a whole value. Letters a-z and A-Z are
// taken alike, no other characters.
#pragma once

#include <memory>
#include <string>
#include <vector>

class NameSearch;
class NameTrie;

// Whether a text names one removed driver, and where.
struct InfMention {
    bool found = false;  // the text contains the driver's name
    // The first line that contains it, without its line break and the blanks
    // around it, as LineMentioningDriver gives it (empty for a name that
    // holds a line break).
    std::wstring line;
};

// What one pass over an INF's text tells.
struct InfFindings {
    // One per removed name, in the order InfNames was given them.
    std::vector<InfMention> mentions;
    // The Class of the first [Version] section, else its ClassGUID, as the INF
    // spells it, when it is not printers' ("Printer",
    // {4D36E979-E325-11CE-BFC1-08002BE10318}); empty when none is declared.
    std::wstring otherDeviceClass;
    // Its [Version] Provider is Microsoft ("Microsoft" or "Microsoft
    // Corporation", a-z folded), named outright or through a %token% that a
    // [Strings] or [Strings.<language>] section defines so: one of Windows'
    // own packages, however it was published.
    bool microsoftProvider = false;
    // The indexes, ascending, of the installed drivers that the text names as
    // a whole value (quoted, or a whole field of a line: bounded, blanks aside,
    // by the text's or a line's ends, a quote, '=' or ',', or after it ';');
    // of names that are the same a-z folded, the first.
    std::vector<size_t> namedDrivers;

    // Whether the text names any of the removed drivers.
    bool NamesAny() const;
};

// The names of one scan, prepared once for every file it reads: those of the
// removed drivers, and those of the installed drivers whose whole values are
// looked for (empty ones name nothing).
class InfNames {
  public:
    InfNames(const std::vector<std::wstring>& removedDrivers,
             const std::vector<std::wstring>& installedDrivers);
    // One removed driver.
    InfNames(const std::wstring& driverName, const std::vector<std::wstring>& installedDrivers)
        : InfNames(std::vector<std::wstring>{driverName}, installedDrivers) {}
    ~InfNames();
    InfNames(const InfNames&) = delete;
    InfNames& operator=(const InfNames&) = delete;

    size_t removedCount() const { return removed_.size(); }
    // The search for the removed name at `index`; null for an empty name.
    const NameSearch* removed(size_t index) const { return removed_[index].get(); }
    bool removedHoldsLineBreak(size_t index) const { return holdsLineBreak_[index]; }
    const NameTrie& installed() const { return *installed_; }

  private:
    std::vector<std::unique_ptr<NameSearch>> removed_;
    std::vector<bool> holdsLineBreak_;
    std::unique_ptr<NameTrie> installed_;
};

// Reads the file at `path` once, slice by slice, and tells what its text says
// of `names`. An INF whose [Version] section declares another device class is
// read no further than the line that declares it (whatever follows could not
// make its package go), so its findings are those of the text up to there. A
// file without text (see InfTextReader) names nothing.
InfFindings ScanInfFile(const std::wstring& path, const InfNames& names);

// The findings for a text in memory, as those of a file with that text.
InfFindings ScanInfText(const std::wstring& text, const InfNames& names);
