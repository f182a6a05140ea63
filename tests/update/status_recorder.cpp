#include "update/status_recorder.h"

#include "shell/launcher_status.h"

namespace {

StatusRecorder* g_recorder = nullptr;

}  // namespace

StatusRecorder::StatusRecorder()
    : m_hook("user32.dll", "InvalidateRect",
             reinterpret_cast<const void*>(&RecordingInvalidateRect))
{
    g_recorder = this;
    m_window = CreateWindowExW(0, L"STATIC", L"launcher", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               nullptr, nullptr);
    GetLauncherContext().window.store(m_window);
}

StatusRecorder::~StatusRecorder()
{
    GetLauncherContext().window.store(nullptr);
    DestroyWindow(m_window);
    g_recorder = nullptr;
}

BOOL WINAPI StatusRecorder::RecordingInvalidateRect(HWND window, const RECT* rect, BOOL erase)
{
    StatusRecorder* recorder = g_recorder;
    if (!recorder)
        return TRUE;
    const LauncherStatus& status = GetLauncherStatus();
    {
        std::lock_guard<std::mutex> lock(recorder->m_mutex);
        recorder->m_changes.push_back(
            {status.state.load(), status.progress.load(), rect == nullptr && erase != FALSE});
    }
    return recorder->m_hook.Original<decltype(&InvalidateRect)>()(window, rect, erase);
}

std::vector<StatusChange> StatusRecorder::Changes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_changes;
}
