// The launcher's log: one time-stamped line per event, appended to
// <Documents>\<log folder>\<executable name>.log and shared with every other writer.
#pragma once

#include <windows.h>

#include "base/unique_resource.h"

// The process-wide log slot. Empty (no handle) before the first line and when the file
// could not be opened; then nothing is logged for the rest of the process.
struct LogFile {
    UniqueHandle m_hFile;
    // Named after the file, so that every thread and process writing it takes turns.
    UniqueHandle m_hWriteLock;
    bool IsOpen() const { return static_cast<bool>(m_hFile); }
};

// The slot, opened on the first call of the process.
LogFile& GetLogFile();

// Opens the log file into the slot (or leaves it empty).
void OpenLogFile();

// <Documents>\<log folder>\<name>.log (base/brand.h); creates that folder when missing. `destination`, when
// given, receives the path (MAX_PATH characters). Always reports true.
bool GetLogFilePath(wchar_t* destination = nullptr);

// The running executable's base name with its extension replaced by ".log".
bool GetLogFileName(wchar_t* destination = nullptr);

// Writes one line: local time stamp, the formatted message, line end. The format follows the
// Windows printf conventions: every %s argument is a wide string; %I64d prints 64-bit numbers.
void WriteLog(LogFile& slot, const wchar_t* format, ...);
