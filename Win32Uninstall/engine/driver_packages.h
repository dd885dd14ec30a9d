// Removal of a driver's installed packages: the numbered oem INF copies in
// the Windows inf folder, through the setup API, and the package folders in
// the driver store repository, from disk. Both find their packages by the
// INF text naming the driver (MentionsDriver), and keep those that something
// else still needs:
//  - a package whose INF names, as a whole value, a driver of another name
//    that stays installed (another model of a package with several);
//  - a package whose INF's [Version] declares a device class other than
//    printers (a multifunction device's scanner package names its printer);
//  - one of Windows' own packages: its INF's file name is published under
//    that same name in the inf folder (third-party packages are published as
//    oemN.inf). These are recognised by name and never read; a store folder
//    named after such an INF ("ntprint.inf_amd64_<hash>") is not even entered.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

// TRUE when the text of the file at `path` contains `driverName`, ignoring
// the case of the letters a-z only (every other character must be the same).
// The text is the file's bytes decoded from the system ANSI code page up to
// the first NUL character, so a UTF-16 file ends at its first zero byte and a
// name with non-ASCII characters matches only when the file stores them in the
// ANSI code page. A file that cannot be read has no text. An empty driver name
// matches nothing: it would otherwise name every file.
BOOL MentionsDriver(const std::wstring& path, const std::wstring& driverName);

// One package file whose text names the driver being removed.
struct PackageMatch {
    std::wstring inf;     // the oem file in the inf folder, or the INF in a store package
    std::wstring folder;  // the store package's folder (trailing backslash); empty for oem INFs
    std::wstring matchedLine;  // the INF's first line that names the driver
    std::wstring keptBecause;  // why it stays; empty when it goes
};

// What the two package steps take and keep for one driver name, found in one
// pass: each candidate is read once.
struct PackageScan {
    std::vector<PackageMatch> oemInfs;   // in walk order
    std::vector<PackageMatch> packages;  // one per package folder, in walk order
    // Windows' own store packages passed over unread, and so kept.
    size_t windowsPackages = 0;
};

// Matches `driverName` against the oem files of the inf folder (sub-folders
// included, names containing "oem") and the INFs of the driver store's
// package folders (names containing ".inf"), and decides for each match
// whether it stays (see the rules above; `remainingDrivers` are the names of
// the installed drivers that stay). A package folder stays whole when any of
// its matching INFs stays. An INF lying directly in the repository folder is
// passed over. Reads nothing but the candidates, each once, in one pass that
// looks for every name at once (see inf_scan.h); an INF whose [Version]
// declares another device class is read no further than that declaration,
// and is a match (kept for its class) only when it names the driver before
// it. Logs nothing.
PackageScan ScanDriverPackages(const std::wstring& driverName,
                               const std::vector<std::wstring>& remainingDrivers);

// The reason an INF text that names the removed driver gives for keeping its
// package, or empty: "another device class (<class>)" when its [Version]
// declares a Class or ClassGUID other than printers'; "used by driver <name>"
// for the first of `remainingDrivers` that it names as a whole value (quoted,
// or a whole field of a line: bounded by the line's ends, '=', ',', ';' or a
// quote, blanks aside), a-z and A-Z taken alike.
std::wstring ReasonToKeepPackage(const std::wstring& infText,
                                 const std::vector<std::wstring>& remainingDrivers);

// Hands every oem INF of `matches` that does not stay to
// SetupUninstallOEMInfW, by its bare file name with SUOI_FORCEDELETE. The
// setup API's results are not examined and nothing is logged. Always TRUE.
BOOL UninstallOemInfs(const std::vector<PackageMatch>& matches);

// UninstallOemInfs for the matches of `driverName` when no other driver is
// installed.
BOOL UninstallOemInfs(const std::wstring& driverName);

// Windows' inf folder, "<Windows>\inf\", and Windows' own driver-store
// repository, "<System32>\DriverStore\FileRepository\" (through Sysnative
// in a 32-bit process on 64-bit Windows). False when the Windows folder
// cannot be told.
bool OemInfFolder(std::wstring& folder);
bool DriverStoreRepository(std::wstring& folder);

// The file's text as MentionsDriver reads it: its bytes decoded from the
// ANSI code page, up to the first NUL. Empty when it cannot be read.
std::wstring ReadInfText(const std::wstring& path);

// The first line of `text` that contains the driver's name, a-z and A-Z
// taken alike, without its line break and surrounding blanks; empty when no
// line does.
std::wstring LineMentioningDriver(const std::wstring& text, const std::wstring& driverName);

// Deletes from disk every package folder of `packages` that does not stay:
// the folder is taken over (TakeOwnership, down to its last file), then it
// is deleted with all it contains, itself last. TRUE when there is none, else
// the outcome of deleting the last one; failures are logged by the deletion
// walk.
BOOL PurgeDriverStore(const std::vector<PackageMatch>& packages);

// PurgeDriverStore for the package folders whose INF mentions `driverName`
// when no other driver is installed.
BOOL PurgeDriverStore(const std::wstring& driverName);
