// The main dialog's windows as fakes: a list box that keeps its items (and
// sorts what LB_ADDSTRING adds, as the LBS_SORT style would), a record of the
// messages sent to the other controls and of the titles set. The UI-state
// handles point at the fakes while installed.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

namespace fake_dialog {

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct State {
    std::vector<std::wstring> items;         // the list box's items
    int selection = -1;                      // LB_GETCURSEL's answer; a reset clears it
    std::vector<WPARAM> insertIndexes;       // wParam of each LB_INSERTSTRING
    int resets = 0;                          // LB_RESETCONTENT count
    std::vector<SentMessage> otherMessages;  // to any window but the list box
    std::vector<std::pair<HWND, std::wstring>> titles;
    // Called for every message and title, in order, for tests that check the
    // order of set-up steps: "LB_RESETCONTENT", "LB_INSERTSTRING", "PBM_SETRANGE",
    // "SetWindowText", or "message <number>".
    std::vector<std::string>* events = nullptr;
};

extern State dialog;
extern const HWND kDialog;
extern const HWND kListBox;
extern const HWND kUninstallButton;
extern const HWND kCancelButton;
extern const HWND kProgressBar;

// Resets `dialog`, sets mainDialog, listBox, uninstallButton and progressBar to
// the fake handles and points SendMessageW and SetWindowTextW at the fakes.
// Pair it with a ScopedUiState, which puts the handles back.
void Install();

// Restores the UI-state handles and empties the driver list's tables when it
// goes out of scope.
class ScopedUiState {
  public:
    ScopedUiState();
    ~ScopedUiState();
    ScopedUiState(const ScopedUiState&) = delete;
    ScopedUiState& operator=(const ScopedUiState&) = delete;

  private:
    HWND saved_[4];
};

}  // namespace fake_dialog
