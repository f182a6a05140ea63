#include "support/test_support.h"

#include <winsock2.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "log/log_file.h"

namespace test_support {

std::wstring BuildDir()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path = module;
    path.resize(path.find_last_of(L'\\'));  // the test programs' folder
    path.resize(path.find_last_of(L'\\'));  // the build tree
    return path;
}

std::wstring BuildPath(const std::wstring& relative)
{
    return BuildDir() + L"\\" + relative;
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void RemoveTree(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..")
                    RemoveTree(path + L"\\" + name);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    if (!RemoveDirectoryW(path.c_str()))
        DeleteFileW(path.c_str());
}

bool CopyFileTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

std::vector<std::string> SplitCrLfLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool HasStamp(const std::string& line)
{
    // "YYYY-MM-DD hh:mm:ss\t"
    static const char kShape[] = "dddd-dd-dd dd:dd:dd\t";
    if (line.size() < sizeof kShape - 1)
        return false;
    for (size_t i = 0; i < sizeof kShape - 1; ++i) {
        const char c = line[i];
        if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i])
            return false;
    }
    return true;
}

std::string StripStamp(const std::string& line)
{
    return HasStamp(line) ? line.substr(20) : line;
}

size_t OwnLogSize()
{
    wchar_t path[MAX_PATH] = {};
    GetLogFilePath(path);
    return ReadFileBytes(path).size();
}

std::vector<std::string> OwnLogLinesSince(size_t offset)
{
    wchar_t path[MAX_PATH] = {};
    GetLogFilePath(path);
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::string> lines;
    if (bytes.size() >= offset)
        for (const std::string& line : SplitCrLfLines(bytes.substr(offset)))
            lines.push_back(StripStamp(line));
    return lines;
}

std::wstring DocumentsDir()
{
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PERSONAL, FALSE);
    return folder;
}

namespace {

std::vector<wchar_t> BuildEnvironment(const std::map<std::wstring, std::wstring>& extra)
{
    std::map<std::wstring, std::wstring> variables;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const size_t equals = text.find(L'=', 1);
        if (equals != std::wstring::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : extra) {
        if (value.empty())
            variables.erase(name);
        else
            variables[name] = value;
    }
    std::vector<wchar_t> result;
    for (const auto& [name, value] : variables) {
        const std::wstring entry = name + L"=" + value;
        result.insert(result.end(), entry.begin(), entry.end());
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

}  // namespace

ChildProcess::ChildProcess(const std::wstring& commandLine,
                           const std::map<std::wstring, std::wstring>& extraEnvironment)
{
    std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
    command.push_back(L'\0');
    std::vector<wchar_t> environment = BuildEnvironment(extraEnvironment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &m_info))
        m_info = PROCESS_INFORMATION{};
}

ChildProcess::~ChildProcess()
{
    if (m_info.hProcess) {
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
            Kill();
        CloseHandle(m_info.hProcess);
    }
    if (m_info.hThread)
        CloseHandle(m_info.hThread);
}

bool ChildProcess::Wait(DWORD timeoutMs, DWORD* exitCode)
{
    if (!m_info.hProcess || WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(m_info.hProcess, exitCode);
    return true;
}

void ChildProcess::Kill()
{
    if (m_info.hProcess) {
        TerminateProcess(m_info.hProcess, 99);
        WaitForSingleObject(m_info.hProcess, 10000);
    }
}

namespace {

struct WindowSearch {
    DWORD processId;
    const std::wstring* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId)
        return TRUE;
    if (!search->className->empty()) {
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        if (*search->className != name)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

void EnsureWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

SOCKET BindLoopback(unsigned short& port)
{
    EnsureWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return s;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const std::wstring& className)
{
    WindowSearch search{processId, &className, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

SilentListener::SilentListener()
{
    const SOCKET s = BindLoopback(m_port);
    listen(s, 16);
    m_socket = static_cast<uintptr_t>(s);
}

SilentListener::~SilentListener()
{
    closesocket(static_cast<SOCKET>(m_socket));
}

unsigned short UnusedPort()
{
    unsigned short port = 0;
    closesocket(BindLoopback(port));
    return port;
}

}  // namespace test_support
