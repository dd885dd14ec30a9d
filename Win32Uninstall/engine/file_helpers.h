// File operations of the removal engine: a recursive walk that collects or
// deletes the files whose names contain a pattern, path splitting, whole-file
// reads and taking ownership of a folder tree.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

// Full paths of files, in the order a collecting walk met them.
using FileList = std::vector<std::wstring>;

// Walk modes.
constexpr int WALK_COLLECT = 0;  // append each matching file's path to the list
constexpr int WALK_DELETE = 1;   // delete each matching file

// The walk's path buffers hold MAX_PATH units with the terminating zero: a
// folder path with "*.*" appended, and a folder path with an entry name and a
// backslash appended, must each fit in this many characters.
constexpr size_t WALK_PATH_LIMIT = MAX_PATH - 1;

// Walks `folder` (which must end with a backslash) depth-first, in the
// enumeration's own order, entering every sub-folder whatever its name, and
// handles each file whose name contains `pattern` (see NameContains):
//  - WALK_COLLECT appends its full path to `list` and always returns TRUE;
//  - WALK_DELETE deletes it; a failed deletion logs "DeleteFile<path>" with
//    the error and the walk goes on. With `removeFolders` every folder of the
//    tree, `folder` included, is removed right after its contents (a failure
//    logs "RemoveDirectory"). The result is the last outcome: the top folder's
//    removal with `removeFolders`, else the last deletion attempted anywhere
//    in the tree (TRUE when nothing matched; a sub-folder without matches
//    does not turn an earlier failure into success). `list` is not touched.
// A folder that cannot be enumerated has no entries. A folder entry that is a
// reparse point (junction, folder symbolic link) is never entered: its target
// lies outside the tree. With `removeFolders` the link itself is removed.
// Entries whose paths do not fit WALK_PATH_LIMIT are not handled; each is
// logged ("FindFirstFile<folder>" or, when deleting, "DeleteFile<path>", error
// 206) and, in WALK_DELETE, makes the outcome FALSE.
BOOL WalkFolder(FileList& list,
                const std::wstring& folder,
                int mode,
                const std::wstring& pattern,
                BOOL removeFolders);

// The entries directly in `folder` (which must end with a backslash) that a
// WALK_COLLECT walk with `pattern` handles there, in the enumeration's order:
// the full path of each file whose name contains `pattern`, and of each
// sub-folder the walk would enter, with a trailing backslash (folder links
// are left out). Paths too long for the walk are logged and left out as the
// walk does. A folder that cannot be enumerated has no entries.
FileList ListFolder(const std::wstring& folder, const std::wstring& pattern);

// Deletes one file; a failure logs "DeleteFile<path>" with the error and
// gives FALSE.
BOOL DeleteListedFile(const std::wstring& path);

// Files in use and the restart. A file that another program has open (a
// printer's interface DLL loaded by every application that showed a print
// dialog) cannot be deleted until that program ends. Windows' own tools then
// schedule it for deletion at the next restart, and so does the removal, for
// the driver files, oem INFs and driver-store packages it deletes itself
// (not for spool files, whose purge keeps WalkFolder's rules).

// The paths a removal left for the restart, in the order they were
// scheduled; the paths as the removal walked them (PathShownToPeople shows
// them).
using ScheduledPaths = std::vector<std::wstring>;

// The log's record of each item left for the restart, followed by the path
// as PathShownToPeople shows it.
constexpr wchar_t SCHEDULED_AT_RESTART_TEXT[] = L"文件正在使用，将在重启后删除：";

// Whether a deletion that failed with `error` failed because the item is in
// use: ERROR_SHARING_VIOLATION (open without delete sharing),
// ERROR_ACCESS_DENIED (what Windows gives for a loaded image) or
// ERROR_USER_MAPPED_FILE.
bool IsInUseError(DWORD error);

// Deletes the file `path`. Where the deletion fails because the file is in
// use (IsInUseError), the file is scheduled for deletion at the next restart
// (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, by the path Windows has for
// it at the restart: System32, never Sysnative), `path` is appended to
// `scheduled` and the log gets a note (SCHEDULED_AT_RESTART_TEXT + path,
// WriteLogNote). TRUE when the file is gone or scheduled. FALSE otherwise,
// with "DeleteFile<path>" logged with the deletion's error and, when the
// scheduling failed too, then "MoveFileEx<path>" with its error.
BOOL DeleteOrSchedule(const std::wstring& path, ScheduledPaths& scheduled);

// Deletes the folder `folder` (which must end with a backslash) with
// everything in it, as DeleteOrSchedule deletes each file: depth-first, each
// folder removed right after its contents. A folder that cannot be removed
// because it is in use, or because it is not empty (ERROR_DIR_NOT_EMPTY)
// while something in it was scheduled, is scheduled itself (with its
// trailing backslash in `scheduled`), after its contents: at the restart
// each folder is empty when its turn comes. Any other failed removal logs
// "RemoveDirectory" (then "MoveFileEx<folder>" where the scheduling failed).
// Folder links (reparse points) are not entered; the link itself is
// removed. Paths too long for the walk are logged as WalkFolder logs them.
// TRUE only when every item went or was scheduled: every failure counts,
// wherever in the tree it happened.
BOOL DeleteTreeOrSchedule(const std::wstring& folder, ScheduledPaths& scheduled);

// TRUE when `pattern` occurs, with its case, in the file name of `path` (the
// text from its last backslash on). An empty path never matches, an empty
// pattern matches any other path, and a path without a backslash never does.
BOOL NameContains(const std::wstring& path, const std::wstring& pattern);

// The folder of `path` with a trailing backslash: C:\A\B\X.INF gives C:\A\B\.
// Empty when the path is empty or has no backslash.
std::wstring FolderOf(const std::wstring& path);

// The text after the last backslash of `path`: C:\A\X.DLL gives X.DLL. Empty
// when the path has no backslash or ends with one.
std::wstring FileNameOf(const std::wstring& path);

// `text` upper-cased as Windows compares file names (the invariant locale's
// simple case mapping), for case-insensitive comparisons of paths.
std::wstring UpperInvariant(const std::wstring& text);

// A file's bytes followed by one zero byte, or no data.
struct FileBytes {
    std::vector<char> bytes;  // length + 1 bytes, the last one zero; empty when no data
    size_t length = 0;        // number of file bytes, without the zero
};

// Reads the whole file, opened for reading without sharing (another process
// that has it open makes it unreadable). A file that cannot be opened or read,
// or that is too large to hold in memory, gives no data and length 0.
FileBytes ReadWholeFile(const std::wstring& path);

// Makes the administrators group (by its well-known SID, the same in every
// Windows language) the owner of `folder` and of every file and folder in it,
// and grants that group full control of each, so that the deletion walk can
// remove the whole tree: a driver-store package is owned by the system, with
// read-only access for administrators, down to its deepest file. Each folder
// is taken over before it is enumerated, so a folder that administrators
// could not list becomes listable. Enables SeTakeOwnershipPrivilege and
// SeRestorePrivilege for the duration and puts the token's privileges back as
// they were before returning. Folder links (reparse points) are not entered:
// their targets lie outside the tree. Returns once everything is done and
// reports nothing: an item that cannot be taken over is left as it is, and
// the deletion that then fails logs.
void TakeOwnership(const std::wstring& folder);
