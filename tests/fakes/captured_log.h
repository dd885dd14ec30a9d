// Keeps the operation log's records in memory instead of in Documents: the
// log file's calls are answered by fakes, and its ANSI conversion writes UTF-8
// so that Chinese lines stay readable whatever the code page. Other files and
// handles pass through to Windows.
#pragma once

#include <string>
#include <vector>

#include "support/test_support.h"

class CapturedLog {
  public:
    CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // The head of each record, in order: "<text> failed with error <code>" for
    // a record with the last error (or "<text> succeed" for code 0), the bare
    // text for one without.
    std::vector<std::string> Lines() const;

  private:
    ScopedWin32Fakes restore_;
};
