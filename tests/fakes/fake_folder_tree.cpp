#include "fakes/fake_folder_tree.h"

namespace {

FakeTree tree;
std::vector<std::wstring> searches;
// One slot per handle handed out: the folder's entries and the next index.
struct Enumeration {
    std::vector<FakeEntry> entries;
    size_t next = 0;
    bool open = false;
};
std::vector<Enumeration> enumerations;

void Fill(const FakeEntry& entry, LPWIN32_FIND_DATAW data) {
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = entry.attributes;
    wcsncpy(data->cFileName, entry.name.c_str(), MAX_PATH - 1);
}

HANDLE WINAPI FakeFindFirst(LPCWSTR searchPattern, LPWIN32_FIND_DATAW data) {
    searches.push_back(searchPattern);
    std::wstring folder = searchPattern;
    folder = folder.substr(0, folder.rfind(L'\\') + 1);
    const auto found = tree.find(folder);
    if (found == tree.end() || found->second.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    enumerations.push_back({found->second, 1, true});
    Fill(found->second[0], data);
    return reinterpret_cast<HANDLE>(enumerations.size());
}

BOOL WINAPI FakeFindNext(HANDLE handle, LPWIN32_FIND_DATAW data) {
    Enumeration& e = enumerations.at(reinterpret_cast<size_t>(handle) - 1);
    if (e.next >= e.entries.size()) {
        ::SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    Fill(e.entries[e.next++], data);
    return TRUE;
}

BOOL WINAPI FakeFindClose(HANDLE handle) {
    enumerations.at(reinterpret_cast<size_t>(handle) - 1).open = false;
    return TRUE;
}

}  // namespace

void InstallFakeFolderTree(const FakeTree& folders) {
    tree = folders;
    searches.clear();
    enumerations.clear();
    win32.FindFirstFileW = FakeFindFirst;
    win32.FindNextFileW = FakeFindNext;
    win32.FindClose = FakeFindClose;
}

const std::vector<std::wstring>& FakeTreeSearches() {
    return searches;
}

int FakeTreeOpenHandles() {
    int open = 0;
    for (const Enumeration& e : enumerations)
        open += e.open ? 1 : 0;
    return open;
}
