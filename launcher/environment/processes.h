// Running processes and starting programs.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_resource.h"

// Identifier of the first process, in snapshot order, whose executable name equals `exeName`
// exactly (case-sensitive, no path); 0 when none runs.
DWORD FindProcessByName(const std::wstring& exeName);

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
    UniqueHandle job;       // a job holding it and every process it starts, when one could be made
};

// Starts the program shown, from its quoted wide path, without arguments. When the system
// refuses for want of elevation, the shell starts it and shows its consent prompt. Waits, at
// most 30 s, until the started program is ready for input, as WinExec did. With `watch`, the
// program runs in a job of its own so that everything it starts can be waited for.
ProgramStart StartProgram(const std::wstring& path, bool watch);

// StartProgram without watching; returns the WinExec-style code.
UINT RunProgram(const std::wstring& path);

// Whether the watched program, or any program it started, still runs. Without a job it asks
// the program's own process; without either, nothing is known to run.
bool IsProgramRunning(const ProgramStart& program);
