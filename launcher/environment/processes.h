// Running processes and starting programs.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_resource.h"

// How a process whose session can't be read counts. Sessions come from terminal services
// without opening any process; only where that list can't be had is each process asked, and a
// medium-integrity launcher may not ask an elevated one.
enum class UnreadableSession {
    Another,  // another user's: before the install step takes a copy for installed
    Own,      // from Vista on, this user's (an elevated copy is the likely one): before a
              // start, a prompt or a wait; on XP another user's all the same
};

// Identifier of the first process of the launcher's own session whose executable name, in
// any case, is `exeName` or `shortName` (its 8.3 name; may be empty), no path; 0 when none
// runs. Another user's copy, in another session, is none of this user's business.
DWORD FindProcessByName(const std::wstring& exeName, const std::wstring& shortName = {},
                        UnreadableSession unreadable = UnreadableSession::Another);

// FindProcessByName for the managed application, by its long and its short name.
DWORD FindApplicationProcess(UnreadableSession unreadable = UnreadableSession::Another);

// Whether a reported process name (Windows keeps the starter's spelling: a shortcut in
// capitals, an 8.3 path) names the program `longName`, or `shortName` when not empty.
bool IsSameProgramName(const wchar_t* reported, const std::wstring& longName,
                       const std::wstring& shortName);

// Whether a process counts as the launcher's session's: `known` whether its session could be
// read, `ownKnown` the same for the launcher's own. A process whose session can't be read
// counts as the launcher's only with `unreadableIsOwn`; without its own session the launcher
// counts every process, as it can tell none apart.
bool IsInOwnSession(bool known, DWORD session, bool ownKnown, DWORD ownSession,
                    bool unreadableIsOwn);

// Whether another launcher runs, after CreateMutexW on the one-launcher mutex: `created` its
// result, `error` GetLastError(). It exists (ERROR_ALREADY_EXISTS), or it exists but can't be
// opened (ERROR_ACCESS_DENIED: an elevated launcher made it).
bool IsAnotherInstanceRunning(bool created, DWORD error);

// The number WinExec gives for a start that failed with `error`: the error itself below 32
// (0 is WinExec's "out of resources"), 5 (access denied) when the user declined the consent
// prompt, 11 (bad format) otherwise.
UINT WinExecCodeFor(DWORD error);

// What to do after one way of starting a program answered.
struct StartDecision {
    UINT code = 0;                    // WinExec style: 33 started, 31 or less not
    bool startThroughShell = false;   // refused for want of elevation: let the shell ask
    bool waitForInputIdle = false;    // started, and its process can be waited on
    const wchar_t* logFormat = nullptr;  // a line to log (one %d: the error), or none
    DWORD logValue = 0;
};

// After CreateProcessW: `created` its result, `error` GetLastError() when it failed.
StartDecision DecideAfterCreateProcess(bool created, DWORD error);
// After ShellExecuteExW: `executed` its result, `error` GetLastError() when it failed,
// `hasProcess` whether it gave a process handle.
StartDecision DecideAfterShellExecute(bool executed, DWORD error, bool hasProcess);

// A started program, or why not.
struct ProgramStart {
    UINT code = 0;          // WinExec style: 33 started, 31 or less not
    UniqueHandle process;   // the started process, when the system gave a handle
    UniqueHandle job;       // a job holding it and every process it starts, when one could be made;
                            // closing it ends nothing
};

// Starts the program shown, from its quoted wide path, without arguments, in its own folder; a
// file another program holds for a moment (a scanner) is waited out (busy_file.h). When the
// system refuses for want of elevation, the shell starts it and shows its consent prompt, owned
// by `owner` so that it comes to the front. Waits, at most 30 s, until the started program is
// ready for input, as WinExec did. With `watch`, the program runs in a job of its own so that everything
// it starts can be waited for.
ProgramStart StartProgram(const std::wstring& path, bool watch, HWND owner = nullptr);

// StartProgram without watching; returns the WinExec-style code.
UINT RunProgram(const std::wstring& path, HWND owner = nullptr);

// Whether the started program's own process still runs; false without its handle.
bool IsStartedProcessRunning(const ProgramStart& program);

// Whether the watched program, or any program it started, still runs. Without a job it asks
// the program's own process; without either, nothing is known to run.
bool IsProgramRunning(const ProgramStart& program);

// Whether any process runs from the file at `path`, whoever started it, in whatever session
// or at whatever integrity level: an installer that re-runs itself elevated, or hands over to
// a copy of itself outside the launcher's job, still counts. A process of that file name whose
// image path cannot be read counts too: it may be one.
bool IsImageRunning(const std::wstring& path);
