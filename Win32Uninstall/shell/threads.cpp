#include "shell/threads.h"

#include "platform/win32_api.h"

unique_handle StartThread(LPTHREAD_START_ROUTINE procedure, int priority) {
    unique_handle thread(win32.CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr));
    if (thread && priority != THREAD_PRIORITY_NORMAL)
        win32.SetThreadPriority(thread.get(), priority);
    return thread;
}

bool LaunchThread(LPTHREAD_START_ROUTINE procedure, int priority) {
    return StartThread(procedure, priority).is_valid();
}
