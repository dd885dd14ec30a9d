#include "engine/file_helpers.h"

#include <new>

#include "log/operation_log.h"
#include "platform/native_windows.h"
#include "platform/unique_handles.h"

namespace {

bool IsDotEntry(const wchar_t* name) {
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// Logs an entry that the walk could not handle because its path is too long.
void LogPathTooLong(const std::wstring& text) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    WriteLog(text, true);
}

BOOL RemoveFolder(const std::wstring& folder) {
    if (win32.RemoveDirectoryW(folder.c_str()))
        return TRUE;
    WriteLog(L"RemoveDirectory", true);
    return FALSE;
}

void WalkTree(FileList& list,
              const std::wstring& folder,
              int mode,
              const std::wstring& pattern,
              BOOL removeFolders,
              BOOL& outcome);

// Handles one file entry; sets `outcome` when a deletion was attempted.
void VisitFile(FileList& list,
               const std::wstring& path,
               int mode,
               const std::wstring& pattern,
               BOOL& outcome) {
    if (!NameContains(path, pattern))
        return;
    if (path.size() + 1 > WALK_PATH_LIMIT) {
        LogPathTooLong((mode == WALK_DELETE ? L"DeleteFile" : L"FindFirstFile") +
                       PathShownToPeople(path));
        if (mode == WALK_DELETE)
            outcome = FALSE;
        return;
    }
    if (mode == WALK_COLLECT) {
        list.push_back(path);
    } else {
        outcome = DeleteListedFile(path);
    }
}

// Handles one folder entry: walks it, or removes it when it is a link.
void VisitFolder(FileList& list,
                 const WIN32_FIND_DATAW& entry,
                 const std::wstring& folder,
                 int mode,
                 const std::wstring& pattern,
                 BOOL removeFolders,
                 BOOL& outcome) {
    const std::wstring subFolder = folder + entry.cFileName + L"\\";
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or folder link: deleting through it would delete files
        // outside this tree. Only the link itself goes.
        if (mode == WALK_DELETE && removeFolders)
            outcome = RemoveFolder(subFolder);
        return;
    }
    WalkTree(list, subFolder, mode, pattern, removeFolders, outcome);
}

// Calls `visit` with each entry of `folder` but "." and "..", in the
// enumeration's order. False, with the folder logged, when its search
// pattern would not fit the walk's buffers.
template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit) {
    const std::wstring searchSpec = folder + L"*.*";
    if (searchSpec.size() > WALK_PATH_LIMIT) {
        LogPathTooLong(L"FindFirstFile" + PathShownToPeople(folder));
        return false;
    }
    WIN32_FIND_DATAW entry{};
    unique_find find(win32.FindFirstFileW(searchSpec.c_str(), &entry));
    for (bool more = find.is_valid(); more; more = win32.FindNextFileW(find.get(), &entry)) {
        if (!IsDotEntry(entry.cFileName))
            visit(entry);
    }
    return true;
}

bool IsFolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The walk itself. `outcome` is set by every deletion or removal attempted,
// and only by those: a sub-folder in which nothing was attempted leaves the
// outcome of the attempts before it, so a failed deletion is not hidden by a
// later folder that had nothing to delete.
void WalkTree(FileList& list,
              const std::wstring& folder,
              int mode,
              const std::wstring& pattern,
              BOOL removeFolders,
              BOOL& outcome) {
    const bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        if (IsFolder(entry)) {
            VisitFolder(list, entry, folder, mode, pattern, removeFolders, outcome);
        } else {
            VisitFile(list, folder + entry.cFileName, mode, pattern, outcome);
        }
    });
    if (!listed && mode == WALK_DELETE)
        outcome = FALSE;
    if (mode == WALK_DELETE && removeFolders)
        outcome = RemoveFolder(folder);
}

// Enables the privileges that taking ownership needs on the process token and
// puts the token's previous state back on destruction.
class ScopedOwnershipPrivileges {
  public:
    ScopedOwnershipPrivileges() {
        if (!win32.OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                    token_.put()))
            return;
        Privileges wanted{};
        for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME}) {
            LUID luid{};
            if (!win32.LookupPrivilegeValueW(nullptr, name, &luid))
                continue;
            wanted.entries[wanted.count].Luid = luid;
            wanted.entries[wanted.count].Attributes = SE_PRIVILEGE_ENABLED;
            ++wanted.count;
        }
        DWORD size = sizeof previous_;
        adjusted_ = wanted.count > 0 && win32.AdjustTokenPrivileges(
                                            token_.get(), FALSE, wanted.AsTokenPrivileges(),
                                            sizeof previous_, previous_.AsTokenPrivileges(), &size);
    }
    ~ScopedOwnershipPrivileges() {
        if (adjusted_)
            win32.AdjustTokenPrivileges(token_.get(), FALSE, previous_.AsTokenPrivileges(), 0,
                                        nullptr, nullptr);
    }
    ScopedOwnershipPrivileges(const ScopedOwnershipPrivileges&) = delete;
    ScopedOwnershipPrivileges& operator=(const ScopedOwnershipPrivileges&) = delete;

  private:
    // TOKEN_PRIVILEGES with room for the two privileges.
    struct Privileges {
        DWORD count;
        LUID_AND_ATTRIBUTES entries[2];
        TOKEN_PRIVILEGES* AsTokenPrivileges() { return reinterpret_cast<TOKEN_PRIVILEGES*>(this); }
    };
    unique_handle token_;
    Privileges previous_{};
    bool adjusted_ = false;
};

// Sets `administrators` as the owner of `path`, then adds an entry granting it
// full control to the DACL (inherited by the contents of a folder). Failures
// leave the item as it is.
void TakeOwnershipOfItem(const std::wstring& path, PSID administrators, bool isFolder) {
    std::wstring name = path;
    if (name.size() > 3 && name.back() == L'\\')
        name.pop_back();  // the security functions want the folder without it
    win32.SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                administrators, nullptr, nullptr, nullptr);
    PACL currentAcl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (win32.GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &currentAcl, nullptr,
                                    &descriptor) != ERROR_SUCCESS)
        return;
    const unique_local ownedDescriptor(descriptor);
    EXPLICIT_ACCESSW grant{};
    grant.grfAccessPermissions = FILE_ALL_ACCESS;
    grant.grfAccessMode = GRANT_ACCESS;
    grant.grfInheritance = isFolder ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
    grant.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    grant.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    grant.Trustee.ptstrName = static_cast<LPWSTR>(administrators);
    PACL newAcl = nullptr;
    if (win32.SetEntriesInAclW(1, &grant, currentAcl, &newAcl) != ERROR_SUCCESS)
        return;
    const unique_local ownedAcl(newAcl);
    win32.SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, newAcl, nullptr);
}

// Takes over `folder` (with its trailing backslash), then everything in it,
// depth-first. Paths too long for the walk are left to the deletion walk,
// which logs them.
void TakeOwnershipOfTree(const std::wstring& folder, PSID administrators) {
    TakeOwnershipOfItem(folder, administrators, true);
    const std::wstring searchSpec = folder + L"*.*";
    if (searchSpec.size() > WALK_PATH_LIMIT)
        return;
    WIN32_FIND_DATAW entry{};
    unique_find find(win32.FindFirstFileW(searchSpec.c_str(), &entry));
    for (bool more = find.is_valid(); more; more = win32.FindNextFileW(find.get(), &entry)) {
        if (IsDotEntry(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            TakeOwnershipOfTree(folder + entry.cFileName + L"\\", administrators);
        } else {
            TakeOwnershipOfItem(folder + entry.cFileName, administrators, false);
        }
    }
}

}  // namespace

void TakeOwnership(const std::wstring& folder) {
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof sid;
    if (folder.empty() ||
        !win32.CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize))
        return;
    const ScopedOwnershipPrivileges privileges;
    TakeOwnershipOfTree(folder, sid);
}

BOOL WalkFolder(FileList& list,
                const std::wstring& folder,
                int mode,
                const std::wstring& pattern,
                BOOL removeFolders) {
    BOOL outcome = TRUE;
    WalkTree(list, folder, mode, pattern, removeFolders, outcome);
    return outcome;
}

FileList ListFolder(const std::wstring& folder, const std::wstring& pattern) {
    FileList entries;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        if (!IsFolder(entry)) {
            BOOL unused = TRUE;
            VisitFile(entries, folder + entry.cFileName, WALK_COLLECT, pattern, unused);
        } else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            entries.push_back(folder + entry.cFileName + L"\\");
        }
    });
    return entries;
}

BOOL NameContains(const std::wstring& path, const std::wstring& pattern) {
    if (path.empty())
        return FALSE;
    if (pattern.empty())
        return TRUE;
    const size_t lastBackslash = path.rfind(L'\\');
    if (lastBackslash == std::wstring::npos)
        return FALSE;
    return path.find(pattern, lastBackslash) != std::wstring::npos;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t lastBackslash = path.rfind(L'\\');
    if (lastBackslash == std::wstring::npos)
        return {};
    return path.substr(0, lastBackslash + 1);
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t lastBackslash = path.rfind(L'\\');
    if (lastBackslash == std::wstring::npos)
        return {};
    return path.substr(lastBackslash + 1);
}

FileBytes ReadWholeFile(const std::wstring& path) {
    unique_file file(win32.CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !win32.GetFileSizeEx(file.get(), &size))
        return {};
    // A size whose length + 1 does not fit a single read is treated as unreadable.
    if (size.QuadPart < 0 || size.QuadPart >= static_cast<LONGLONG>(MAXDWORD))
        return {};

    FileBytes result;
    result.length = static_cast<size_t>(size.QuadPart);
    try {
        result.bytes.assign(result.length + 1, '\0');
    } catch (const std::bad_alloc&) {
        return {};
    }
    DWORD read = 0;
    if (!win32.ReadFile(file.get(), result.bytes.data(), static_cast<DWORD>(result.length), &read,
                        nullptr) ||
        read != result.length) {
        return {};
    }
    return result;
}

std::wstring UpperInvariant(const std::wstring& text) {
    std::wstring upper = text;
    if (!upper.empty()) {
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(),
                        static_cast<int>(text.size()), upper.data(), static_cast<int>(upper.size()),
                        nullptr, nullptr, 0);
    }
    return upper;
}

BOOL DeleteListedFile(const std::wstring& path) {
    if (win32.DeleteFileW(path.c_str()))
        return TRUE;
    WriteLog(L"DeleteFile" + PathShownToPeople(path), true);
    return FALSE;
}

namespace {

// The path by which the restart's file operations find the item: they run
// natively, where "Sysnative" does not exist, so a 32-bit process's path
// through it names System32 instead. No trailing backslash for a folder.
std::wstring PathAtTheRestart(const std::wstring& path) {
    std::wstring native = PathShownToPeople(path);
    if (native.size() > 3 && native.back() == L'\\')
        native.pop_back();
    return native;
}

// Schedules `path` for deletion at the restart after a deletion that failed
// in use, with `failedText` the record of that failure and `failedError` its
// error, logged only when the scheduling fails too.
BOOL ScheduleAtRestart(const std::wstring& path,
                       const std::wstring& failedText,
                       DWORD failedError,
                       ScheduledPaths& scheduled) {
    if (win32.MoveFileExW(PathAtTheRestart(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        scheduled.push_back(path);
        WriteLogNote(SCHEDULED_AT_RESTART_TEXT + PathShownToPeople(path));
        return TRUE;
    }
    const DWORD scheduleError = ::GetLastError();
    ::SetLastError(failedError);
    WriteLog(failedText, true);
    ::SetLastError(scheduleError);
    WriteLog(L"MoveFileEx" + PathShownToPeople(path), true);
    return FALSE;
}

// Removes the emptied `folder`, or schedules it: see DeleteTreeOrSchedule.
BOOL RemoveOrScheduleFolder(const std::wstring& folder,
                            bool somethingInsideScheduled,
                            ScheduledPaths& scheduled) {
    if (win32.RemoveDirectoryW(folder.c_str()))
        return TRUE;
    const DWORD error = ::GetLastError();
    if (IsInUseError(error) || (error == ERROR_DIR_NOT_EMPTY && somethingInsideScheduled))
        return ScheduleAtRestart(folder, L"RemoveDirectory", error, scheduled);
    WriteLog(L"RemoveDirectory", true);
    return FALSE;
}

}  // namespace

bool IsInUseError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_USER_MAPPED_FILE;
}

BOOL DeleteOrSchedule(const std::wstring& path, ScheduledPaths& scheduled) {
    if (win32.DeleteFileW(path.c_str()))
        return TRUE;
    const DWORD error = ::GetLastError();
    const std::wstring failedText = L"DeleteFile" + PathShownToPeople(path);
    if (IsInUseError(error))
        return ScheduleAtRestart(path, failedText, error, scheduled);
    WriteLog(failedText, true);
    return FALSE;
}

BOOL DeleteTreeOrSchedule(const std::wstring& folder, ScheduledPaths& scheduled) {
    const size_t scheduledBefore = scheduled.size();
    BOOL outcome = TRUE;
    const bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        const std::wstring path = folder + entry.cFileName;
        BOOL gone = TRUE;
        if (!IsFolder(entry)) {
            if (path.size() + 1 > WALK_PATH_LIMIT) {
                LogPathTooLong(L"DeleteFile" + PathShownToPeople(path));
                gone = FALSE;
            } else {
                gone = DeleteOrSchedule(path, scheduled);
            }
        } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            gone = RemoveFolder(path + L"\\");
        } else {
            gone = DeleteTreeOrSchedule(path + L"\\", scheduled);
        }
        if (!gone)
            outcome = FALSE;
    });
    if (!listed)
        outcome = FALSE;
    if (!RemoveOrScheduleFolder(folder, scheduled.size() > scheduledBefore, scheduled))
        outcome = FALSE;
    return outcome;
}
