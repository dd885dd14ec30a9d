#include "fakes/fake_dialog.h"

#include <algorithm>
#include <commctrl.h>

#include "shell/driver_list.h"
#include "shell/ui_state.h"

namespace fake_dialog {

State dialog;
const HWND kDialog = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x6100));
const HWND kListBox = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x6200));
const HWND kUninstallButton = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x6300));
const HWND kCancelButton = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x6400));
const HWND kProgressBar = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x6500));

namespace {

void Note(const std::string& event) {
    if (dialog.events != nullptr)
        dialog.events->push_back(event);
}

LRESULT ListBoxMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const auto* text = reinterpret_cast<const wchar_t*>(lParam);
    switch (message) {
        case LB_RESETCONTENT:
            Note("LB_RESETCONTENT");
            ++dialog.resets;
            dialog.items.clear();
            dialog.selection = -1;
            return 0;
        case LB_GETCURSEL:
            return dialog.selection;
        case LB_INSERTSTRING: {
            Note("LB_INSERTSTRING");
            dialog.insertIndexes.push_back(wParam);
            const int index = static_cast<int>(wParam);
            if (index == -1) {
                dialog.items.push_back(text);
                return static_cast<LRESULT>(dialog.items.size() - 1);
            }
            if (index < 0 || static_cast<size_t>(index) > dialog.items.size())
                return LB_ERR;
            dialog.items.insert(dialog.items.begin() + index, text);
            return index;
        }
        case LB_ADDSTRING: {
            Note("LB_ADDSTRING");
            const auto at =
                std::upper_bound(dialog.items.begin(), dialog.items.end(), std::wstring(text));
            return dialog.items.insert(at, text) - dialog.items.begin();
        }
        case LB_GETCOUNT:
            return static_cast<LRESULT>(dialog.items.size());
        default:
            Note("message " + std::to_string(message));
            return 0;
    }
}

LRESULT WINAPI SendMessageFake(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == kListBox)
        return ListBoxMessage(message, wParam, lParam);
    Note(message == PBM_SETRANGE ? "PBM_SETRANGE" : "message " + std::to_string(message));
    dialog.otherMessages.push_back({window, message, wParam, lParam});
    return 0;
}

BOOL WINAPI SetWindowTextFake(HWND window, LPCWSTR text) {
    Note("SetWindowText");
    dialog.titles.emplace_back(window, text);
    return TRUE;
}

}  // namespace

void Install() {
    dialog = State{};
    mainDialog = kDialog;
    listBox = kListBox;
    uninstallButton = kUninstallButton;
    progressBar = kProgressBar;
    win32.SendMessageW = SendMessageFake;
    win32.SetWindowTextW = SetWindowTextFake;
}

ScopedUiState::ScopedUiState() : saved_{mainDialog, listBox, uninstallButton, progressBar} {}

ScopedUiState::~ScopedUiState() {
    mainDialog = saved_[0];
    listBox = saved_[1];
    uninstallButton = saved_[2];
    progressBar = saved_[3];
    driverEntries.clear();
    driverUseCounts.clear();
}

}  // namespace fake_dialog
