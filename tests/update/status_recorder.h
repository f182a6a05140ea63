// Observes every repaint request of SetLauncherStatus, with the status it was made for.
// SetLauncherStatus stores the status before it invalidates the window, so each recorded
// InvalidateRect call is exactly one published status.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "update/import_hook.h"

struct StatusChange {
    int32_t state;
    int32_t progress;
    bool wholeWindowErased;  // no rectangle, erase requested
};

// One recorder at a time.
class StatusRecorder {
public:
    StatusRecorder();
    ~StatusRecorder();
    StatusRecorder(const StatusRecorder&) = delete;
    StatusRecorder& operator=(const StatusRecorder&) = delete;

    bool Installed() const { return m_hook.Installed(); }
    std::vector<StatusChange> Changes() const;

private:
    static BOOL WINAPI RecordingInvalidateRect(HWND window, const RECT* rect, BOOL erase);

    mutable std::mutex m_mutex;
    std::vector<StatusChange> m_changes;
    ImportHook m_hook;
    // Stands in for the splash window: without one, a status change invalidates nothing.
    HWND m_window = nullptr;
};
