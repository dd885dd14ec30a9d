// File operations of the removal engine: a recursive walk that collects or
// deletes the files whose names contain a pattern, path splitting, whole-file
// reads and the hidden take-ownership command.
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

// A file's bytes followed by one zero byte, or no data.
struct FileBytes {
    std::vector<char> bytes;  // length + 1 bytes, the last one zero; empty when no data
    size_t length = 0;        // number of file bytes, without the zero
};

// Reads the whole file, opened for reading without sharing (another process
// that has it open makes it unreadable). A file that cannot be opened or read,
// or that is too large to hold in memory, gives no data and length 0.
FileBytes ReadWholeFile(const std::wstring& path);

// Starts, hidden and without waiting, "cmd /c takeown /f "<folder>" && icacls
// "<folder>" /grant *S-1-5-32-544:F" so that the administrators group (named by
// its well-known SID, the same in every Windows language) can delete the
// folder. The folder is quoted, so blanks and "&" in it stay part of the path.
// Reports nothing; a caller that needs the effect waits on its own.
void TakeOwnership(const std::wstring& folder);
