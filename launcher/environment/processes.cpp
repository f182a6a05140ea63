#include "environment/processes.h"

#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include "environment/system_functions.h"
#include "log/log_file.h"

namespace {

// The started program gets as long to come up as WinExec gave it.
constexpr DWORD kInputIdleMs = 30000;
constexpr UINT kStarted = 33;

#ifndef ERROR_ELEVATION_REQUIRED
constexpr DWORD ERROR_ELEVATION_REQUIRED = 740;
#endif

void LogDecision(const StartDecision& decision)
{
    if (decision.logFormat)
        WriteLog(GetLogFile(), decision.logFormat, decision.logValue);
}

}  // namespace

DWORD FindProcessByName(const std::wstring& exeName)
{
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return 0;
    DWORD ownSession = 0;
    const bool ownKnown = ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) != FALSE;
    PROCESSENTRY32W entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (exeName != entry.szExeFile)
            continue;
        DWORD session = 0;
        const bool known = ProcessIdToSessionId(entry.th32ProcessID, &session) != FALSE;
        if (IsInOwnSession(known, session, ownKnown, ownSession))
            return entry.th32ProcessID;
    }
    return 0;
}

bool IsInOwnSession(bool known, DWORD session, bool ownKnown, DWORD ownSession)
{
    if (!ownKnown)
        return true;
    return known && session == ownSession;
}

UINT WinExecCodeFor(DWORD error)
{
    if (error == ERROR_CANCELLED)
        return ERROR_ACCESS_DENIED;
    if (error < 32)
        return error;
    return ERROR_BAD_FORMAT;
}

StartDecision DecideAfterCreateProcess(bool created, DWORD error)
{
    StartDecision decision;
    if (created) {
        decision.code = kStarted;
        decision.waitForInputIdle = true;
        return decision;
    }
    decision.code = WinExecCodeFor(error);
    if (error == ERROR_ELEVATION_REQUIRED) {
        // Vista and later refuse an asInvoker process a program that requires administrator
        // rights; the shell asks the user for consent and starts it.
        decision.startThroughShell = true;
        decision.logFormat = L"CreateProcess error, code: %d, start through the shell";
    } else {
        decision.logFormat = L"CreateProcess error, code: %d";
    }
    decision.logValue = error;
    return decision;
}

StartDecision DecideAfterShellExecute(bool executed, DWORD error, bool hasProcess)
{
    StartDecision decision;
    if (executed) {
        decision.code = kStarted;
        decision.waitForInputIdle = hasProcess;
        decision.logFormat = L"started through the shell";
        return decision;
    }
    // ERROR_CANCELLED: the user declined the consent prompt.
    decision.code = WinExecCodeFor(error);
    decision.logFormat = L"ShellExecuteEx error, code: %d";
    decision.logValue = error;
    return decision;
}

ProgramStart StartProgram(const std::wstring& path, bool watch)
{
    ProgramStart started;
    // Quoted: unquoted, "C:\Program Files\X\app.exe" would start C:\Program.exe if one existed.
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION info = {};
    // Suspended until it is in its job, so that nothing it starts can escape the job.
    const BOOL created = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                        watch ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup,
                                        &info);
    const DWORD createError = created ? 0 : GetLastError();
    StartDecision decision = DecideAfterCreateProcess(created != FALSE, createError);
    LogDecision(decision);

    if (created) {
        started.process = UniqueHandle(info.hProcess);
        UniqueHandle thread(info.hThread);
        if (watch) {
            // Refused where the launcher already runs in a job and jobs do not nest (before
            // Windows 8); the installer's own process is then what is watched.
            UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
            if (job) {
                // The installer starts the application in this job too; one that manages jobs
                // of its own (browser engines do) needs its children let out, since before
                // Windows 8 a process in a job can't be put into another.
                JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
                limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
                SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                        sizeof limits);
            }
            if (job && AssignProcessToJobObject(job.Get(), info.hProcess))
                started.job = std::move(job);
            ResumeThread(thread.Get());
        }
    } else if (decision.startThroughShell) {
        SHELLEXECUTEINFOW execute = {};
        execute.cbSize = sizeof execute;
        // NOCLOSEPROCESS: the process handle to watch; FLAG_NO_UI: failures go to the log, not
        // to a message box (the consent prompt is still shown).
        execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        execute.lpFile = path.c_str();
        execute.nShow = SW_SHOW;
        const BOOL executed = ShellExecuteExW(&execute);
        const DWORD shellError = executed ? 0 : GetLastError();
        if (executed)
            started.process = UniqueHandle(execute.hProcess);
        decision = DecideAfterShellExecute(executed != FALSE, shellError,
                                           static_cast<bool>(started.process));
        LogDecision(decision);
    }

    started.code = decision.code;
    if (decision.waitForInputIdle && started.process)
        WaitForInputIdle(started.process.Get(), kInputIdleMs);
    return started;
}

UINT RunProgram(const std::wstring& path)
{
    return StartProgram(path, false).code;
}

bool IsStartedProcessRunning(const ProgramStart& program)
{
    return program.process && WaitForSingleObject(program.process.Get(), 0) == WAIT_TIMEOUT;
}

bool IsProgramRunning(const ProgramStart& program)
{
    if (program.job) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        if (QueryInformationJobObject(program.job.Get(), JobObjectBasicAccountingInformation,
                                      &accounting, sizeof accounting, nullptr))
            return accounting.ActiveProcesses > 0;
    }
    return IsStartedProcessRunning(program);
}

namespace {

using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
// Vista and later: enough to read the image path of a process of higher integrity.
constexpr DWORD kQueryLimitedInformation = 0x1000;

// A path in its long form, so that an 8.3 spelling (GetTempPathW gives one for long user
// names) compares equal to the same file's long name.
std::wstring LongPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = GetLongPathNameW(path.c_str(), buffer, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(buffer, length) : path;
}

// The process's image path; empty when it cannot be read.
std::wstring ProcessImagePath(DWORD id)
{
    static const auto query =
        FindKernel32Function<QueryFullProcessImageNameWFn>("QueryFullProcessImageNameW");
    const UniqueHandle process(OpenProcess(
        query ? kQueryLimitedInformation : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    if (!process)
        return std::wstring();
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD length = MAX_PATH * 2;
    if (query)
        return query(process.Get(), 0, buffer, &length) ? std::wstring(buffer, length)
                                                         : std::wstring();
    length = GetModuleFileNameExW(process.Get(), nullptr, buffer, MAX_PATH * 2);
    return std::wstring(buffer, length);
}

}  // namespace

bool IsImageRunning(const std::wstring& path)
{
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || path.empty())
        return false;
    const std::wstring wanted = LongPath(path);
    const wchar_t* const fileName = PathFindFileNameW(path.c_str());
    PROCESSENTRY32W entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (lstrcmpiW(fileName, entry.szExeFile) != 0)
            continue;
        const std::wstring image = ProcessImagePath(entry.th32ProcessID);
        if (image.empty() || lstrcmpiW(LongPath(image).c_str(), wanted.c_str()) == 0)
            return true;
    }
    return false;
}
