#include "engine/inf_sections.h"

#include <algorithm>
#include <map>

#include "engine/file_helpers.h"
#include "engine/inf_text.h"

namespace {

// One INF: section name (upper-cased) -> its lines, comments and blank lines
// removed, in order.
using Sections = std::map<std::wstring, std::vector<std::wstring>>;

std::wstring Trim(const std::wstring& text) {
    const size_t begin = text.find_first_not_of(L" \t\r");
    if (begin == std::wstring::npos)
        return {};
    const size_t end = text.find_last_not_of(L" \t\r");
    return text.substr(begin, end - begin + 1);
}

// The line without its comment: a ';' outside quotes starts one.
std::wstring WithoutComment(const std::wstring& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == L'"')
            quoted = !quoted;
        else if (line[i] == L';' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

Sections ParseSections(const std::wstring& text) {
    Sections sections;
    std::vector<std::wstring>* current = nullptr;
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find(L'\n', begin), text.size());
        const std::wstring line = Trim(WithoutComment(text.substr(begin, end - begin)));
        begin = end + 1;
        if (line.empty())
            continue;
        if (line.front() == L'[' && line.back() == L']') {
            current = &sections[UpperInvariant(Trim(line.substr(1, line.size() - 2)))];
        } else if (current != nullptr) {
            current->push_back(line);
        }
    }
    return sections;
}

std::wstring Unquoted(const std::wstring& text) {
    const std::wstring trimmed = Trim(text);
    if (trimmed.size() >= 2 && trimmed.front() == L'"' && trimmed.back() == L'"')
        return trimmed.substr(1, trimmed.size() - 2);
    return trimmed;
}

// The comma-separated fields of a value, each trimmed and unquoted.
std::vector<std::wstring> Fields(const std::wstring& value) {
    std::vector<std::wstring> fields;
    size_t begin = 0;
    for (size_t comma = value.find(L',');; comma = value.find(L',', begin)) {
        fields.push_back(Unquoted(
            value.substr(begin, comma == std::wstring::npos ? std::wstring::npos : comma - begin)));
        if (comma == std::wstring::npos)
            return fields;
        begin = comma + 1;
    }
}

bool SplitKey(const std::wstring& line, std::wstring& key, std::wstring& value) {
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos)
        return false;
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
    return true;
}

// One language's strings: token (upper-cased) -> value, unquoted.
using StringTable = std::map<std::wstring, std::wstring>;

StringTable TableOf(const std::vector<std::wstring>& lines) {
    StringTable table;
    std::wstring key;
    std::wstring value;
    for (const std::wstring& line : lines) {
        if (SplitKey(line, key, value))
            table.emplace(UpperInvariant(key), Unquoted(value));  // the first definition holds
    }
    return table;
}

// The INF's string tables: [Strings] first (empty when there is none), then
// each [Strings.<language>] ([Strings.0804]: Chinese, Simplified) in the
// order of their names.
std::vector<StringTable> StringTables(const Sections& sections) {
    std::vector<StringTable> tables(1);
    for (const auto& [name, lines] : sections) {
        if (name == L"STRINGS")
            tables[0] = TableOf(lines);
        else if (name.rfind(L"STRINGS.", 0) == 0)
            tables.push_back(TableOf(lines));
    }
    return tables;
}

// `text` with every %token% replaced by its value in `table`, else in the
// neutral [Strings] (`neutral`), as Windows resolves it for that language;
// "%%" stands for '%', and a token defined nowhere stays as it is.
std::wstring Substituted(const std::wstring& text,
                         const StringTable& table,
                         const StringTable& neutral) {
    std::wstring result;
    for (size_t at = 0; at < text.size();) {
        const size_t open = text.find(L'%', at);
        const size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            result += text.substr(at);
            break;
        }
        result += text.substr(at, open - at);
        const std::wstring token = UpperInvariant(text.substr(open + 1, close - open - 1));
        const auto own = table.find(token);
        const auto fallback = neutral.find(token);
        if (token.empty())
            result += L'%';
        else if (own != table.end())
            result += own->second;
        else if (fallback != neutral.end())
            result += fallback->second;
        else
            result += text.substr(open, close - open + 1);
        at = close + 1;
    }
    return result;
}

void AddOnce(std::vector<std::wstring>& names, const std::wstring& name) {
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
}

// Every name that a text of the INF stands for: unquoted, its %tokens%
// resolved in each language the INF defines, the neutral one first; each
// name once.
std::vector<std::wstring> NamesOf(const std::vector<StringTable>& tables,
                                  const std::wstring& text) {
    std::vector<std::wstring> names;
    const std::wstring plain = Unquoted(text);
    for (const StringTable& table : tables)
        AddOnce(names, Substituted(plain, table, tables.front()));
    return names;
}

// The models sections that [Manufacturer] names, with their decorations.
std::vector<const std::vector<std::wstring>*> ModelSections(const Sections& sections) {
    std::vector<const std::vector<std::wstring>*> models;
    const auto manufacturer = sections.find(L"MANUFACTURER");
    if (manufacturer == sections.end())
        return models;
    std::wstring key;
    std::wstring value;
    for (const std::wstring& line : manufacturer->second) {
        const std::vector<std::wstring> fields = Fields(SplitKey(line, key, value) ? value : line);
        const std::wstring base = UpperInvariant(fields.front());
        for (const auto& [name, lines] : sections) {
            if (name == base || name.rfind(base + L".", 0) == 0)
                models.push_back(&lines);
        }
    }
    return models;
}

// The file names one install section names (see FilesInstalledFor).
void AddInstallFiles(const Sections& sections,
                     const std::wstring& installSection,
                     std::vector<std::wstring>& files) {
    const auto install = sections.find(UpperInvariant(installSection));
    if (install == sections.end())
        return;
    std::wstring key;
    std::wstring value;
    for (const std::wstring& line : install->second) {
        if (!SplitKey(line, key, value))
            continue;
        const std::wstring upperKey = UpperInvariant(key);
        if (upperKey == L"DRIVERFILE" || upperKey == L"CONFIGFILE" || upperKey == L"DATAFILE" ||
            upperKey == L"HELPFILE") {
            AddOnce(files, UpperInvariant(Unquoted(value)));
        } else if (upperKey == L"COPYFILES") {
            for (const std::wstring& entry : Fields(value)) {
                if (!entry.empty() && entry.front() == L'@') {
                    AddOnce(files, UpperInvariant(entry.substr(1)));
                    continue;
                }
                const auto list = sections.find(UpperInvariant(entry));
                if (list == sections.end())
                    continue;
                for (const std::wstring& fileLine : list->second)
                    AddOnce(files, UpperInvariant(Fields(fileLine).front()));
            }
        }
    }
}

void AddRegistration(std::vector<InfRegistration>& registrations,
                     const std::wstring& value,
                     const StringTable& strings) {
    // The whole value may be one quoted text or one token: "<name>,<dll>".
    const std::vector<std::wstring> fields = Fields(Substituted(Unquoted(value), strings, strings));
    const std::wstring name = fields.front();
    if (name.empty())
        return;
    for (const InfRegistration& known : registrations) {
        if (UpperInvariant(known.name) == UpperInvariant(name))
            return;
    }
    registrations.push_back({name, fields.size() > 1 ? fields[1] : std::wstring()});
}

// The LanguageMonitor and PrintProcessor lines of one install section and of
// its decorated variants.
void AddRegistrations(const Sections& sections,
                      const StringTable& strings,
                      const std::wstring& installSection,
                      InfRegistrations& registered) {
    const std::wstring base = UpperInvariant(installSection);
    std::wstring key;
    std::wstring value;
    for (const auto& [name, lines] : sections) {
        if (name != base && name.rfind(base + L".NT", 0) != 0)
            continue;
        for (const std::wstring& line : lines) {
            if (!SplitKey(line, key, value))
                continue;
            const std::wstring upperKey = UpperInvariant(key);
            if (upperKey == L"LANGUAGEMONITOR")
                AddRegistration(registered.languageMonitors, value, strings);
            else if (upperKey == L"PRINTPROCESSOR")
                AddRegistration(registered.printProcessors, value, strings);
        }
    }
}

}  // namespace

std::vector<std::wstring> ModelNames(const std::wstring& infText) {
    const Sections sections = ParseSections(infText);
    const std::vector<StringTable> tables = StringTables(sections);
    std::vector<std::wstring> names;
    std::wstring key;
    std::wstring value;
    for (const auto* lines : ModelSections(sections)) {
        for (const std::wstring& line : *lines) {
            if (!SplitKey(line, key, value))
                continue;
            for (const std::wstring& name : NamesOf(tables, key))
                AddOnce(names, name);
        }
    }
    return names;
}

namespace {

// Calls `visit` with the install section of each model line whose model, in
// any language, is `model` (a-z and A-Z taken alike); every model line's
// when `model` is empty.
template <typename Visit>
void ForEachInstallSectionOf(const Sections& sections,
                             const std::vector<StringTable>& tables,
                             const std::wstring& model,
                             Visit visit) {
    const std::wstring upperModel = UpperAsciiOf(model);
    std::wstring key;
    std::wstring value;
    for (const auto* lines : ModelSections(sections)) {
        for (const std::wstring& line : *lines) {
            if (!SplitKey(line, key, value))
                continue;
            const std::vector<std::wstring> names = NamesOf(tables, key);
            if (model.empty() ||
                std::any_of(names.begin(), names.end(), [&](const std::wstring& name) {
                    return UpperAsciiOf(name) == upperModel;
                }))
                visit(Fields(value).front());
        }
    }
}

}  // namespace

std::vector<std::wstring> FilesInstalledFor(const std::wstring& infText,
                                            const std::wstring& model) {
    std::vector<std::wstring> files;
    if (model.empty())
        return files;
    const Sections sections = ParseSections(infText);
    ForEachInstallSectionOf(
        sections, StringTables(sections), model,
        [&](const std::wstring& section) { AddInstallFiles(sections, section, files); });
    return files;
}

InfRegistrations RegisteredFor(const std::wstring& infText, const std::wstring& model) {
    const Sections sections = ParseSections(infText);
    const std::vector<StringTable> tables = StringTables(sections);
    InfRegistrations registered;
    ForEachInstallSectionOf(sections, tables, model, [&](const std::wstring& section) {
        AddRegistrations(sections, tables.front(), section, registered);
    });
    return registered;
}
