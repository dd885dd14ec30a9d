// What a printer INF's text says of its models: the names it declares and the
// files it installs for one of them. Used where no spooler record is left to
// tell (a driver deleted without its package) and to show an administrator
// which models a package in the driver store would install.
#pragma once

#include <string>
#include <vector>

// The model names the INF declares: the descriptions on the left of the lines
// of each models section that [Manufacturer] names ("Models" and its
// decorated variants such as "Models.NTamd64"), quotes removed, %tokens%
// resolved as Windows resolves them for each language the INF defines: the
// neutral [Strings] and every [Strings.<language>] (a token missing there
// falls back to [Strings]). Each name once, in order of appearance, a model's
// neutral name before its localized ones.
std::vector<std::wstring> ModelNames(const std::wstring& infText);

// The bare file names that the INF installs for `model` (a-z and A-Z taken
// alike; any of the model's names in ModelNames): for each models-section
// line that declares it, that line's install
// section's DriverFile, ConfigFile, DataFile and HelpFile values and its
// CopyFiles entries, each either "@name" or a file-list section whose lines
// name files (their first field). Sections of other INFs (Include/Needs, such
// as Windows' own ntprint.inf) are not followed. Each name once, upper-cased.
std::vector<std::wstring> FilesInstalledFor(const std::wstring& infText, const std::wstring& model);

// A language monitor or print processor as an install section registers it:
// LanguageMonitor="<name>,<dll>" or PrintProcessor="<name>,<dll>".
struct InfRegistration {
    std::wstring name;
    std::wstring dll;  // as the INF gives it; empty when it gives none
};

struct InfRegistrations {
    std::vector<InfRegistration> languageMonitors;
    std::vector<InfRegistration> printProcessors;
};

// What the INF's own install sections for `model` register (every model's
// when `model` is empty): the LanguageMonitor and PrintProcessor lines of the
// install section that each models-section line declaring it names, and of
// that section's decorated variants ("<section>.NTamd64", "<section>.NT"),
// values and %tokens% resolved through [Strings]. Sections of other INFs
// (Include/Needs: ntprint.inf's UNIDRV_BIDI.OEM brings "PJL Language
// Monitor") are not followed: what they register is theirs. Each name once.
InfRegistrations RegisteredFor(const std::wstring& infText, const std::wstring& model);
