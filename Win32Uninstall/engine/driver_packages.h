// Removal of a driver's installed packages: the numbered oem INF copies in
// the Windows inf folder, through the setup API, and the package folders in
// the driver store repository, from disk. Both find their packages by the
// INF text naming the driver (MentionsDriver).
#pragma once

#include <string>

#include "platform/win32_api.h"

// TRUE when the text of the file at `path` contains `driverName`, ignoring
// the case of the letters a-z only (every other character must be the same).
// The text is the file's bytes decoded from the system ANSI code page up to
// the first NUL character, so a UTF-16 file ends at its first zero byte and a
// name with non-ASCII characters matches only when the file stores them in the
// ANSI code page. A file that cannot be read has no text. An empty driver name
// matches nothing: it would otherwise name every file.
BOOL MentionsDriver(const std::wstring& path, const std::wstring& driverName);

// Hands every file of the inf folder (sub-folders included) whose name
// contains "oem" and whose text mentions the driver to SetupUninstallOEMInfW,
// by its bare file name with SUOI_FORCEDELETE. The setup API's results are
// not examined and nothing is logged. Always TRUE.
BOOL UninstallOemInfs(const std::wstring& driverName);

// Windows' inf folder, "<Windows>\inf\", and Windows' own driver-store
// repository, "<System32>\DriverStore\FileRepository\" (through Sysnative
// in a 32-bit process on 64-bit Windows). False when the Windows folder
// cannot be told.
bool OemInfFolder(std::wstring& folder);
bool DriverStoreRepository(std::wstring& folder);

// The first line of the file's text (decoded as MentionsDriver decodes it)
// that contains the driver's name, a-z and A-Z taken alike, without its line
// break and surrounding blanks; empty when no line does.
std::wstring LineMentioningDriver(const std::wstring& path, const std::wstring& driverName);

// Deletes from disk the driver store package folders that hold an INF (a file
// whose name contains ".inf") mentioning the driver: the folder that holds
// the INF is taken over (TakeOwnership, down to its last file), then it is
// deleted with all it contains, itself last. The candidates are listed once,
// before deleting; an INF in a folder already deleted no longer matches. An INF lying directly
// in the repository folder is passed over, so that the repository itself is
// never deleted. TRUE when no package matched, else the outcome of deleting
// the last matching package folder; failures are logged by the deletion walk.
BOOL PurgeDriverStore(const std::wstring& driverName);
