// The operation log: an append-only text log of the uninstaller's failures,
// in Documents\岚拓打印机\Log(N).txt.
#pragma once

#include <string>

// A log file of this size or more is never written again; the next record
// goes to the next number.
constexpr long long LOG_FILE_LIMIT = 0x100000;

// How often and how long WriteLog waits for another writer that holds the
// log file (it is opened without sharing). Any other open failure ends the
// write at once.
constexpr int LOG_OPEN_ATTEMPTS = 500;
constexpr unsigned LOG_OPEN_RETRY_DELAY_MS = 10;

// Number of the file that received the last record; 1 at start. Only
// WriteLog changes it, and it never goes down during a run.
extern int logFileNumber;

// Appends one record and reports nothing to the caller.
//
// withLastError false: `text`, then the timestamp line.
// withLastError true: "<text> failed with error <code>: <system text>" (or
// "<text> succeed:  0: <system text>" for code 0), then the timestamp line. The
// code is the calling thread's last error, read before WriteLog makes any call
// of its own, so call it right after the failed call.
//
// The timestamp line is "     D-M-YYYY,h:m:s:ms \r\n" in local time. The record
// is written in the ANSI code page, followed by one zero byte.
void WriteLog(std::wstring text, bool withLastError);

// Appends a record of something a person should find in the log although it
// is no failure (a file left for the restart): `text`, then the timestamp
// line, as WriteLog(text, false) writes it. FirstLoggedFailure does not see
// it, so a step that fails after it still reports its own failed call.
void WriteLogNote(const std::wstring& text);

// The first record this thread wrote since ForgetLoggedFailure: its text (a
// call's name, or a sentence) and the last error it carried (0 for a
// sentence). A failing step logs its failure first, so this tells what failed.
struct LoggedFailure {
    bool logged = false;
    std::wstring text;
    unsigned long error = 0;
};
void ForgetLoggedFailure();
LoggedFailure FirstLoggedFailure();
