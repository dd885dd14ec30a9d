// Short-lived threads of the shell: the service threads and the uninstall
// worker, none of which the program waits for unless it keeps its handle.
#pragma once

#include <windows.h>

#include "platform/unique_handles.h"

// Starts `procedure` on a new thread (parameter 0, default stack and security,
// no creation flags) at `priority` and returns its handle; none when the
// thread cannot be started.
unique_handle StartThread(LPTHREAD_START_ROUTINE procedure, int priority);

// StartThread, keeping no handle. Returns false, and reports nothing else,
// when the thread cannot be started.
bool LaunchThread(LPTHREAD_START_ROUTINE procedure, int priority);
