// Running processes and starting programs.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_resource.h"

// Identifier of the first process of the launcher's own session, in snapshot order, whose
// executable name equals `exeName` exactly (case-sensitive, no path); 0 when none runs. Another
// user's copy, in another session, is none of this user's business.
DWORD FindProcessByName(const std::wstring& exeName);

// Whether a process counts as the launcher's session's: `known` whether its session could be
// read, `ownKnown` the same for the launcher's own. A process whose session can't be read is
// taken as another's (on XP that is another user's process); without its own session the
// launcher counts every process, as it can tell none apart.
bool IsInOwnSession(bool known, DWORD session, bool ownKnown, DWORD ownSession);

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

// Starts the program shown, from its quoted wide path, without arguments. When the system
// refuses for want of elevation, the shell starts it and shows its consent prompt. Waits, at
// most 30 s, until the started program is ready for input, as WinExec did. With `watch`, the
// program runs in a job of its own so that everything it starts can be waited for.
ProgramStart StartProgram(const std::wstring& path, bool watch);

// StartProgram without watching; returns the WinExec-style code.
UINT RunProgram(const std::wstring& path);

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
