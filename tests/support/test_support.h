// Helpers shared by the Windows test programs: build-tree paths, files, child processes and
// the log written by a program.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace test_support {

// The build tree's root (the folder above the test programs' folder), without a trailing
// backslash; everything the build produced is found from here.
std::wstring BuildDir();
// BuildDir() + "\" + relative.
std::wstring BuildPath(const std::wstring& relative);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
int64_t FileSize(const std::wstring& path);  // -1 when missing
void RemoveTree(const std::wstring& path);   // test clean-up, follows nothing
bool CopyFileTo(const std::wstring& from, const std::wstring& to);

// Splits on CR LF; a final empty piece after the last CR LF is dropped.
std::vector<std::string> SplitCrLfLines(const std::string& bytes);
// A log line without its "YYYY-MM-DD hh:mm:ss\t" stamp; the line itself when it has none.
std::string StripStamp(const std::string& line);
bool HasStamp(const std::string& line);

// This program's own log: its size now, and its lines written from `offset` on, unstamped.
size_t OwnLogSize();
std::vector<std::string> OwnLogLinesSince(size_t offset);

// The Documents folder (where "<log folder>\<exe>.log" lives).
std::wstring DocumentsDir();

// A child process started with CreateProcessW.
class ChildProcess {
public:
    // `extraEnvironment` is added to (or replaces entries of) this process's environment;
    // an empty value removes the variable.
    ChildProcess(const std::wstring& commandLine,
                 const std::map<std::wstring, std::wstring>& extraEnvironment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_info.hProcess != nullptr; }
    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }
    // True when the process ended within the time; `exitCode` then holds its code.
    bool Wait(DWORD timeoutMs, DWORD* exitCode = nullptr);
    void Kill();

private:
    PROCESS_INFORMATION m_info{};
};

// Polls every 50 ms until `condition` holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(50);
    }
}

// The first top-level window of `processId` with the given class (any class when empty).
HWND FindProcessWindow(DWORD processId, const std::wstring& className = std::wstring());

// A 127.0.0.1 TCP listener on a free port that accepts connections and never answers;
// stands in for a service that hangs. Closed on destruction.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    unsigned short Port() const { return m_port; }

private:
    uintptr_t m_socket;
    unsigned short m_port = 0;
};

// A 127.0.0.1 port with nothing listening on it (bound, then released).
unsigned short UnusedPort();

}  // namespace test_support
