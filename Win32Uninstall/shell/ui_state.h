// Process-wide state of the uninstaller's user interface.
//
// The GUI thread writes the window handles once, while it sets up the main
// dialog and before the message loop runs; every other thread (the uninstall
// worker, the service threads) only reads them afterwards, so they take no lock.
#pragma once

#include <string>

#include <windows.h>

// Dialog template and control identifiers of the main dialog.
constexpr int IDD_MAIN_DIALOG = 101;
constexpr int IDC_UNINSTALL_BUTTON = IDOK;   // "卸载"
constexpr int IDC_CANCEL_BUTTON = IDCANCEL;  // "取消"
constexpr int IDC_DRIVER_LIST = 1000;
constexpr int IDC_PROGRESS_BAR = 1001;

// The main dialog; null until CreateDialogParamW has succeeded.
extern HWND mainDialog;
// Control IDC_DRIVER_LIST of the main dialog: the driver list box.
extern HWND listBox;
// Control IDC_UNINSTALL_BUTTON: the uninstall push button. Disabled while an
// uninstall command runs.
extern HWND uninstallButton;
// Control IDC_PROGRESS_BAR: the progress bar, range 0..100.
extern HWND progressBar;

// "岚拓打印机驱动卸载程序", set before the entry point runs. The driver list
// makes it the dialog title after every fill.
extern const std::wstring windowTitle;
// The same text, the caption of the uninstall command's result boxes.
extern const std::wstring messageCaption;
