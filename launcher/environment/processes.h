// Running processes and starting programs.
#pragma once

#include <windows.h>

#include <string>

// Identifier of the first process, in snapshot order, whose executable name equals `exeName`
// exactly (case-sensitive, no path); 0 when none runs.
DWORD FindProcessByName(const std::wstring& exeName);

// The text in the system's ANSI code page; empty when it cannot be converted.
std::string WideToAnsi(const std::wstring& text);

// Starts the program shown, without arguments, and returns the WinExec result (above 31 means
// started). The path is quoted so that a path with blanks names only itself.
UINT RunProgram(const std::wstring& path);
