#include "environment/busy_file.h"

#include "log/log_file.h"

bool IsBusyFileError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

DWORD RetryWhileBusy(const wchar_t* what, const std::function<DWORD()>& attempt)
{
    DWORD error = attempt();
    for (int failed = 1; failed < kBusyFileAttempts && IsBusyFileError(error); ++failed) {
        const DWORD pause = kBusyFilePausesMs[failed - 1];
        WriteLog(GetLogFile(), L"%s error, code: %d, again in %d ms", what, error, pause);
        Sleep(pause);
        error = attempt();
    }
    return error;
}

DWORD ReplaceFileWhenFree(const std::wstring& from, const std::wstring& to)
{
    return RetryWhileBusy(L"file replace", [&] {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? DWORD{0}
                                                                                : GetLastError();
    });
}
