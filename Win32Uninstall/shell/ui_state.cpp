#include "shell/ui_state.h"

HWND mainDialog = nullptr;
HWND listBox = nullptr;
HWND uninstallButton = nullptr;
HWND progressBar = nullptr;

const std::wstring windowTitle = L"岚拓打印机驱动卸载程序";
const std::wstring messageCaption = L"岚拓打印机驱动卸载程序";
