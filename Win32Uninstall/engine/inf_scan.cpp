#include "engine/inf_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <set>

#include "engine/inf_text.h"

// No name: an index past every list.
constexpr size_t NO_NAME = std::wstring::npos;

// The upper-cased names of the drivers that stay, as a tree of their units,
// so that one walk through a text follows all of them at once. Each name is
// known by its index in the list; names that are the same upper-cased are
// known by the first.
class NameTrie {
  public:
    explicit NameTrie(const std::vector<std::wstring>& names) : nodes_(1) {
        for (size_t index = 0; index < names.size(); ++index)
            Add(UpperAsciiOf(names[index]), index);
    }
    bool empty() const { return nodes_.size() == 1; }
    // How many distinct names the tree holds.
    size_t names() const { return names_; }
    // The node after `node` (0 is the root) on `upper`, or 0.
    uint32_t Child(uint32_t node, wchar_t upper) const {
        if (node == 0 && upper < 128)
            return rootAscii_[upper];
        for (const auto& [unit, child] : nodes_[node].children) {
            if (unit == upper)
                return child;
        }
        return 0;
    }
    // The index of the name that ends at `node`, or NO_NAME.
    size_t NameAt(uint32_t node) const { return nodes_[node].name; }

  private:
    struct Node {
        std::vector<std::pair<wchar_t, uint32_t>> children;
        size_t name = NO_NAME;
    };
    void Add(const std::wstring& name, size_t index) {
        if (name.empty())
            return;  // an empty name names nothing
        uint32_t node = 0;
        for (const wchar_t unit : name) {
            uint32_t child = Child(node, unit);
            if (child == 0) {
                child = static_cast<uint32_t>(nodes_.size());
                nodes_.emplace_back();
                nodes_[node].children.emplace_back(unit, child);
                if (node == 0 && unit < 128)
                    rootAscii_[unit] = child;
            }
            node = child;
        }
        if (nodes_[node].name == NO_NAME)
            ++names_;
        nodes_[node].name = std::min(nodes_[node].name, index);
    }
    std::vector<Node> nodes_;
    size_t names_ = 0;
    uint32_t rootAscii_[128] = {};  // the root's children by ASCII unit
};

namespace {

constexpr wchar_t PRINTER_CLASS_GUID[] = L"{4D36E979-E325-11CE-BFC1-08002BE10318}";

// What a unit is to a whole value: blanks are passed over around a value; a
// line end, quote, '=' or ',' bounds one on either side, ';' (a comment) only
// after it.
enum class Unit { Blank, Bound, BoundAfter, Other };

Unit KindOf(wchar_t c) {
    switch (c) {
        case L' ':
        case L'\t':
            return Unit::Blank;
        case L'\r':
        case L'\n':
        case L'"':
        case L'=':
        case L',':
            return Unit::Bound;
        case L';':
            return Unit::BoundAfter;
        default:
            return Unit::Other;
    }
}

// Unit::Bound by a table of the ASCII units: the test that runs for most
// units of a text.
struct BoundTable {
    bool bound[128] = {};
    constexpr BoundTable() {
        for (const wchar_t c : {L'\r', L'\n', L'"', L'=', L','})
            bound[c] = true;
    }
};
constexpr BoundTable BOUNDS;

bool IsBound(wchar_t c) {
    return c < 128 && BOUNDS.bound[c];
}

// A [Version] or [Strings] value without its comment, blanks and quotes.
std::wstring ValueOf(const std::wstring& value) {
    std::wstring text = Trimmed(value.substr(0, value.find(L';')));
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"')
        text = text.substr(1, text.size() - 2);
    return text;
}

// Whether an upper-cased provider name is Microsoft's, as Windows' own INFs
// give it.
bool IsMicrosoft(const std::wstring& upperValue) {
    return upperValue == L"MICROSOFT" || upperValue == L"MICROSOFT CORPORATION";
}

// Follows the text line by line for what its [Version] section declares: a
// Class or ClassGUID other than printers', and whether its Provider is
// Microsoft, either in so many words or through a %token% that a [Strings]
// or [Strings.<language>] section defines so (in whatever order the sections
// come). Only lines of [Version] are held whole, lines of the [Strings]
// sections up to STRINGS_LINE_UNITS, and of every other line only its start,
// which tells whether it opens a section. Once the class or the provider is
// decided, no more lines are followed.
class VersionReader {
  public:
    bool reading() const { return !done_; }
    const std::wstring& otherClass() const { return otherClass_; }
    bool microsoftProvider() const {
        return microsoftProvider_ ||
               (!providerToken_.empty() && microsoftTokens_.count(providerToken_) > 0);
    }

    // Takes `count` units of text; the number taken, all of them unless a
    // line ended the reading: then up to and including that line's break.
    size_t Take(const wchar_t* units, size_t count) {
        size_t at = 0;
        while (!done_ && at < count) {
            const wchar_t* lineBreak = wmemchr(units + at, L'\n', count - at);
            const size_t end =
                lineBreak != nullptr ? static_cast<size_t>(lineBreak - units) : count;
            Append(units + at, end - at);
            at = end;
            if (lineBreak != nullptr) {
                ++at;
                EndLine();
            }
        }
        return at;
    }
    // The text ends: its last line has no line break.
    void End() {
        if (!done_)
            EndLine();
        done_ = true;
    }

  private:
    enum class Section { Other, Version, Strings };
    // The longest start of a line that opens a section the reader follows:
    // "[VERSION]", "[STRINGS]" or "[STRINGS.".
    static constexpr size_t SECTION_START = 9;
    // A [Strings] line that defines a token as "Microsoft" is no longer.
    static constexpr size_t STRINGS_LINE_UNITS = 256;

    void Append(const wchar_t* units, size_t count) {
        size_t at = 0;
        while (line_.empty() && at < count && (IsBlank(units[at]) || units[at] == L'\r'))
            ++at;
        const size_t limit = section_ == Section::Version   ? std::wstring::npos
                             : section_ == Section::Strings ? STRINGS_LINE_UNITS
                                                            : SECTION_START;
        const size_t room = limit - std::min(line_.size(), limit);
        line_.append(units + at, std::min(count - at, room));
    }

    // `line_` is the line's start without its leading blanks.
    void EndLine() {
        if (!line_.empty() && line_.front() == L'[') {
            OpenSection(UpperAsciiOf(line_.substr(0, SECTION_START)));
        } else if (section_ == Section::Version) {
            ReadVersionLine(Trimmed(line_));
        } else if (section_ == Section::Strings && line_.size() < STRINGS_LINE_UNITS) {
            ReadStringsLine(line_);
        }
        line_.clear();
    }

    void OpenSection(const std::wstring& start) {
        if (section_ == Section::Version) {
            versionRead_ = true;  // only the first [Version] section counts
            // A provider named outright needs no [Strings].
            done_ = providerToken_.empty() || microsoftProvider();
        }
        if (start == L"[VERSION]" && !versionRead_)
            section_ = Section::Version;
        else if (start == L"[STRINGS]" || start == L"[STRINGS.")
            section_ = Section::Strings;
        else
            section_ = Section::Other;
    }

    void ReadVersionLine(const std::wstring& line) {
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            return;
        const std::wstring key = UpperAsciiOf(Trimmed(line.substr(0, equals)));
        const std::wstring value = ValueOf(line.substr(equals + 1));
        const std::wstring upperValue = UpperAsciiOf(value);
        if ((key == L"CLASS" && upperValue != L"PRINTER") ||
            (key == L"CLASSGUID" && upperValue != PRINTER_CLASS_GUID)) {
            otherClass_ = value;
            done_ = true;
        } else if (key == L"PROVIDER") {
            const bool token =
                upperValue.size() > 2 && upperValue.front() == L'%' && upperValue.back() == L'%';
            providerToken_ = token ? upperValue.substr(1, upperValue.size() - 2) : L"";
            microsoftProvider_ = !token && IsMicrosoft(upperValue);
        }
    }

    void ReadStringsLine(const std::wstring& line) {
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos ||
            !IsMicrosoft(UpperAsciiOf(ValueOf(line.substr(equals + 1)))))
            return;
        microsoftTokens_.insert(UpperAsciiOf(Trimmed(line.substr(0, equals))));
        done_ = versionRead_ && microsoftProvider();
    }

    std::wstring line_;  // the current line so far
    Section section_ = Section::Other;
    bool versionRead_ = false;  // the first [Version] section has ended
    bool done_ = false;
    std::wstring otherClass_;
    bool microsoftProvider_ = false;          // Provider=Microsoft, in so many words
    std::wstring providerToken_;              // Provider=%TOKEN%, upper-cased
    std::set<std::wstring> microsoftTokens_;  // tokens that [Strings] define as Microsoft
};

// Follows every name of a NameTrie through the text at once, unit by unit:
// a cursor starts at each unit that may begin a whole value (the text's
// start, or after a bound and any blanks) and follows the tree while the
// text does; a name whose cursor reaches its end is a whole value when the
// next unit that is not a blank bounds it, or the text ends first.
class WholeValueFinder {
  public:
    explicit WholeValueFinder(const NameTrie& trie) : trie_(trie) {}
    // The names found, ascending.
    std::vector<size_t> found() const {
        std::vector<size_t> sorted = found_;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

    void Take(const wchar_t* units, size_t count) {
        if (trie_.empty())
            return;
        for (size_t at = 0; at < count && found_.size() < trie_.names(); ++at) {
            if (cursors_.empty() && pending_.empty()) {
                // Nothing under way, as for most of a text: on to the next
                // bound, and past a value that begins no name.
                at = NextValueStart(units, at, count);
                if (at == count)
                    return;
            }
            Step(units[at]);
        }
    }
    void End() { FoundPending(); }

  private:
    // With nothing under way: the first unit from `at` on where a name may
    // begin, or `count`.
    size_t NextValueStart(const wchar_t* units, size_t at, size_t count) {
        for (; at < count; ++at) {
            if (!valueStart_) {
                while (at < count && !IsBound(units[at]))
                    ++at;
                valueStart_ = at < count;  // after this bound
                continue;
            }
            const wchar_t c = units[at];
            if (trie_.Child(0, UpperAscii(c)) != 0)
                return at;
            if (!IsBlank(c))
                valueStart_ = IsBound(c);
        }
        return count;
    }

    void Step(wchar_t c) {
        const Unit kind = KindOf(c);
        if (!pending_.empty() && kind != Unit::Blank) {
            if (kind != Unit::Other)
                FoundPending();
            pending_.clear();
        }
        const wchar_t upper = UpperAscii(c);
        next_.clear();
        for (const uint32_t node : cursors_)
            Advance(node, upper);
        if (valueStart_)
            Advance(0, upper);
        cursors_.swap(next_);
        if (kind != Unit::Blank)
            valueStart_ = kind == Unit::Bound;
    }
    void Advance(uint32_t node, wchar_t upper) {
        const uint32_t child = trie_.Child(node, upper);
        if (child == 0 || std::find(next_.begin(), next_.end(), child) != next_.end())
            return;
        next_.push_back(child);
        const size_t name = trie_.NameAt(child);
        if (name != NO_NAME && !Known(found_, name) && !Known(pending_, name))
            pending_.push_back(name);
    }
    static bool Known(const std::vector<size_t>& names, size_t name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    void FoundPending() {
        for (const size_t name : pending_) {
            if (!Known(found_, name))
                found_.push_back(name);
        }
        pending_.clear();
    }

    const NameTrie& trie_;
    std::vector<uint32_t> cursors_;
    std::vector<uint32_t> next_;
    bool valueStart_ = true;       // the next unit may begin a whole value
    std::vector<size_t> pending_;  // names that ended, waiting for what follows
    std::vector<size_t> found_;
};

// Finds the first occurrence of the removed driver's name, and the line
// around it. Before a match it holds the current line up to the window.
class FirstMention {
  public:
    FirstMention(const NameSearch* search, bool wantLine) : search_(search), wantLine_(wantLine) {}
    bool found() const { return found_; }
    std::wstring Line() const { return found_ ? Trimmed(line_) : std::wstring(); }

    // Looks at a window of `total` units whose first `kept` came before.
    void Take(const wchar_t* window, size_t kept, size_t total) {
        if (search_ == nullptr || (found_ && !lineOpen_))
            return;
        if (found_) {
            ContinueLine(window + kept, total - kept);
            return;
        }
        const size_t at = search_->Find(window, total);
        if (at == std::wstring::npos)
            return;
        found_ = true;
        if (!wantLine_)
            return;
        size_t start = at;
        while (start > 0 && window[start - 1] != L'\n')
            --start;
        if (start > 0)
            line_.clear();  // the line starts in this window
        line_.append(window + start, at - start);
        lineOpen_ = true;
        ContinueLine(window + at, total - at);
    }
    // How many units at the end of a window the next one must start with:
    // all but one unit of a name may lie in this one.
    size_t Keep(size_t total) const {
        return search_ != nullptr && !found_ ? std::min(total, search_->size() - 1) : 0;
    }
    // The first `count` units of the window are let go.
    void Drop(const wchar_t* window, size_t count) {
        if (found_ || !wantLine_)
            return;
        size_t start = count;
        while (start > 0 && window[start - 1] != L'\n')
            --start;
        if (start > 0)
            line_.clear();
        line_.append(window + start, count - start);
    }

  private:
    void ContinueLine(const wchar_t* units, size_t count) {
        const wchar_t* lineBreak = count > 0 ? wmemchr(units, L'\n', count) : nullptr;
        line_.append(units, lineBreak != nullptr ? static_cast<size_t>(lineBreak - units) : count);
        lineOpen_ = lineBreak == nullptr;
    }

    const NameSearch* search_;
    bool wantLine_;
    bool found_ = false;
    bool lineOpen_ = false;  // the matched line goes on past the window
    std::wstring line_;
};

// One pass over a text that arrives window by window.
class InfPass {
  public:
    explicit InfPass(const InfNames& names) : values_(names.installed()) {
        for (size_t i = 0; i < names.removedCount(); ++i)
            mentions_.emplace_back(names.removed(i), !names.removedHoldsLineBreak(i));
    }

    // Takes a window of `total` units whose first `kept` came before. False
    // when the text is to be read no further.
    bool Take(const wchar_t* window, size_t kept, size_t total) {
        size_t end = total;
        if (version_.reading()) {
            const size_t taken = version_.Take(window + kept, total - kept);
            if (!version_.otherClass().empty())
                end = kept + taken;
        }
        values_.Take(window + kept, end - kept);
        for (FirstMention& mention : mentions_)
            mention.Take(window, kept, end);
        return version_.otherClass().empty();
    }
    // Moves the units that the next window must start with to the front of
    // this one; their number: as many as the longest name still looked for
    // needs.
    size_t Slide(wchar_t* window, size_t total) {
        size_t keep = 0;
        for (const FirstMention& mention : mentions_)
            keep = std::max(keep, mention.Keep(total));
        for (FirstMention& mention : mentions_)
            mention.Drop(window, total - keep);
        memmove(window, window + total - keep, keep * sizeof(wchar_t));
        return keep;
    }
    InfFindings End() {
        version_.End();
        values_.End();
        InfFindings findings;
        for (const FirstMention& mention : mentions_)
            findings.mentions.push_back({mention.found(), mention.Line()});
        findings.otherDeviceClass = version_.otherClass();
        findings.microsoftProvider = version_.microsoftProvider();
        findings.namedDrivers = values_.found();
        return findings;
    }

  private:
    VersionReader version_;
    WholeValueFinder values_;
    std::vector<FirstMention> mentions_;
};

}  // namespace

InfNames::InfNames(const std::vector<std::wstring>& removedDrivers,
                   const std::vector<std::wstring>& installedDrivers)
    : installed_(std::make_unique<NameTrie>(installedDrivers)) {
    for (const std::wstring& name : removedDrivers) {
        removed_.push_back(name.empty() ? nullptr
                                        : std::make_unique<NameSearch>(UpperAsciiOf(name)));
        holdsLineBreak_.push_back(name.find(L'\n') != std::wstring::npos);
    }
}

bool InfFindings::NamesAny() const {
    return std::any_of(mentions.begin(), mentions.end(),
                       [](const InfMention& mention) { return mention.found; });
}

InfNames::~InfNames() = default;

// The findings of a file without text: it names nothing.
InfFindings NoFindings(const InfNames& names) {
    InfFindings findings;
    findings.mentions.resize(names.removedCount());
    return findings;
}

InfFindings ScanInfFile(const std::wstring& path, const InfNames& names) {
    try {
        InfTextReader reader(path);
        TextBuffer window;
        InfPass pass(names);
        for (size_t kept = 0;;) {
            size_t units = 0;
            bool ends = false;
            if (!reader.Next(window, kept, units, ends))
                return NoFindings(names);
            const size_t total = kept + units;
            if (!pass.Take(window.data(), kept, total) || ends)
                return pass.End();
            kept = pass.Slide(window.data(), total);
        }
    } catch (const std::bad_alloc&) {
        return NoFindings(names);  // no room for the text: it is as good as unreadable
    }
}

InfFindings ScanInfText(const std::wstring& text, const InfNames& names) {
    InfPass pass(names);
    pass.Take(text.data(), 0, text.size());
    return pass.End();
}
