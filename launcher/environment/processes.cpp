#include "environment/processes.h"

#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "environment/busy_file.h"
#include "environment/locations.h"
#include "environment/managed_application.h"
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

// A process named like the program, with its session when that could be read.
struct NamedProcess {
    DWORD id;
    bool sessionKnown;
    DWORD session;
};

// Upper case as the file system compares names: the same in every locale.
std::wstring UpperCase(const wchar_t* text)
{
    std::wstring upper(text ? text : L"");
    if (!upper.empty())
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text, static_cast<int>(upper.size()),
                     upper.data(), static_cast<int>(upper.size()));
    return upper;
}

// The 8.3 name of an existing file; empty when there is no such file.
std::wstring ShortFileName(const std::wstring& path)
{
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    const wchar_t* name = wcsrchr(shortPath, L'\\');
    return name ? name + 1 : shortPath;
}

// Every process with its session, from terminal services: none is opened, so an elevated one
// is listed like any other. False when the list can't be had.
bool ListWithSessions(const std::wstring& exeName, const std::wstring& shortName,
                      std::vector<NamedProcess>& found)
{
    WTS_PROCESS_INFOW* list = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count))
        return false;
    const UniqueWtsMemory owner(list);
    for (DWORD i = 0; i < count; ++i) {
        if (list[i].pProcessName && IsSameProgramName(list[i].pProcessName, exeName, shortName))
            found.push_back({list[i].ProcessId, true, list[i].SessionId});
    }
    return true;
}

// The same from a snapshot, each process asked for its session, which needs the right to
// query it: an elevated process refuses a medium-integrity launcher.
bool ListFromSnapshot(const std::wstring& exeName, const std::wstring& shortName,
                      std::vector<NamedProcess>& found)
{
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32W entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (!IsSameProgramName(entry.szExeFile, exeName, shortName))
            continue;
        DWORD session = 0;
        const bool known = ProcessIdToSessionId(entry.th32ProcessID, &session) != FALSE;
        found.push_back({entry.th32ProcessID, known, session});
    }
    return true;
}

bool IsVistaOrLater()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

// The folder a program starts in: its own, as a shortcut would give it; an installer then sees
// its own folder rather than whatever folder the launcher was started in.
std::wstring ProgramFolder(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// CreateProcessW, a busy file waited out; 0 or the last error. With `watch` the process is
// left suspended until it is in its job, so that nothing it starts can escape the job.
DWORD CreateWhenFree(const std::wstring& path, bool watch, PROCESS_INFORMATION& info)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    const std::wstring folder = ProgramFolder(path);
    return RetryWhileBusy(L"CreateProcess", [&] {
        // Quoted: unquoted, "C:\Program Files\X\app.exe" would start C:\Program.exe if one
        // existed.
        std::wstring commandLine = L"\"" + path + L"\"";
        return CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                              watch ? CREATE_SUSPENDED : 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &info)
                   ? DWORD{0}
                   : GetLastError();
    });
}

// A job holding the process and everything it starts; empty when refused (where the launcher
// already runs in a job and jobs do not nest, before Windows 8): the installer's own process
// is then what is watched.
UniqueHandle PutInJob(HANDLE process)
{
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job)
        return job;
    // The installer starts the application in this job too; one that manages jobs of its own
    // (browser engines do) needs its children let out, since before Windows 8 a process in a
    // job can't be put into another.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (!AssignProcessToJobObject(job.Get(), process))
        job.Reset();
    return job;
}

// The shell starts the program and asks for consent. The prompt belongs to `owner`, so that it
// comes to the front instead of flashing in the taskbar, and the shell gets the COM apartment
// it expects on this thread.
StartDecision StartThroughShell(const std::wstring& path, HWND owner, UniqueHandle& process)
{
    const ComApartment apartment;
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    // NOCLOSEPROCESS: the process handle to watch; FLAG_NO_UI: failures go to the log, not to a
    // message box (the consent prompt is still shown); NOASYNC: done before the call returns.
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    execute.hwnd = owner;
    execute.lpFile = path.c_str();
    const std::wstring folder = ProgramFolder(path);
    execute.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    execute.nShow = SW_SHOW;
    const BOOL executed = ShellExecuteExW(&execute);
    const DWORD error = executed ? 0 : GetLastError();
    if (executed)
        process = UniqueHandle(execute.hProcess);
    return DecideAfterShellExecute(executed != FALSE, error, static_cast<bool>(process));
}

}  // namespace

DWORD FindProcessByName(const std::wstring& exeName, const std::wstring& shortName,
                        UnreadableSession unreadable)
{
    std::vector<NamedProcess> found;
    if (!ListWithSessions(exeName, shortName, found) &&
        !ListFromSnapshot(exeName, shortName, found))
        return 0;
    DWORD ownSession = 0;
    const bool ownKnown = ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) != FALSE;
    const bool unreadableIsOwn = unreadable == UnreadableSession::Own && IsVistaOrLater();
    const auto counted =
        std::find_if(found.begin(), found.end(), [&](const NamedProcess& process) {
            return IsInOwnSession(process.sessionKnown, process.session, ownKnown, ownSession,
                                  unreadableIsOwn);
        });
    return counted == found.end() ? 0 : counted->id;
}

DWORD FindApplicationProcess(UnreadableSession unreadable)
{
    // Asked each time: the short name exists only while the file does.
    const std::wstring path = GetApplicationDirectory() + kApplicationExeName;
    return FindProcessByName(kApplicationExeName, ShortFileName(path), unreadable);
}

bool IsSameProgramName(const wchar_t* reported, const std::wstring& longName,
                       const std::wstring& shortName)
{
    const std::wstring name = UpperCase(reported);
    return name == UpperCase(longName.c_str()) ||
           (!shortName.empty() && name == UpperCase(shortName.c_str()));
}

bool IsInOwnSession(bool known, DWORD session, bool ownKnown, DWORD ownSession,
                    bool unreadableIsOwn)
{
    if (!ownKnown)
        return true;
    if (!known)
        return unreadableIsOwn;
    return session == ownSession;
}

bool IsAnotherInstanceRunning(bool created, DWORD error)
{
    return created ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
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

ProgramStart StartProgram(const std::wstring& path, bool watch, HWND owner)
{
    ProgramStart started;
    PROCESS_INFORMATION info = {};
    const DWORD createError = CreateWhenFree(path, watch, info);
    StartDecision decision = DecideAfterCreateProcess(createError == 0, createError);
    LogDecision(decision);

    if (createError == 0) {
        started.process = UniqueHandle(info.hProcess);
        UniqueHandle thread(info.hThread);
        if (watch) {
            started.job = PutInJob(info.hProcess);
            ResumeThread(thread.Get());
        }
    } else if (decision.startThroughShell) {
        decision = StartThroughShell(path, owner, started.process);
        LogDecision(decision);
    }

    started.code = decision.code;
    if (decision.waitForInputIdle && started.process)
        WaitForInputIdle(started.process.Get(), kInputIdleMs);
    return started;
}

UINT RunProgram(const std::wstring& path, HWND owner)
{
    return StartProgram(path, false, owner).code;
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
        if (!IsSameProgramName(entry.szExeFile, fileName, {}))
            continue;
        const std::wstring image = ProcessImagePath(entry.th32ProcessID);
        if (image.empty() || lstrcmpiW(LongPath(image).c_str(), wanted.c_str()) == 0)
            return true;
    }
    return false;
}
