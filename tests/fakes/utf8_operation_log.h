// Makes the operation log write UTF-8 instead of the ANSI code page, so that
// a test can read its Chinese lines back under any code page.
#pragma once

// Replaces WideCharToMultiByte in `win32` (restore it with ScopedWin32Fakes).
void WriteOperationLogAsUtf8();
