// Serves FindFirstFileW/FindNextFileW/FindClose from an in-memory folder
// tree, so that a test controls the enumeration order and can offer entries
// Wine cannot make (junctions, names too long for the walk's buffers).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win32_api.h"

struct FakeEntry {
    std::wstring name;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

// Folder path (with trailing backslash) -> its entries, in enumeration order.
using FakeTree = std::map<std::wstring, std::vector<FakeEntry>>;

// Puts the fake enumeration into `win32` (restore it with ScopedWin32Fakes).
// Folders that are not in the tree cannot be enumerated.
void InstallFakeFolderTree(const FakeTree& tree);
// The search patterns passed to FindFirstFileW, in call order.
const std::vector<std::wstring>& FakeTreeSearches();
// Enumeration handles opened and not yet closed.
int FakeTreeOpenHandles();
