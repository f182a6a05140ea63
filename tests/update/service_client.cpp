#include "update/service_client.h"

#include <winsock2.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "log/log_file.h"
#include "support/test_support.h"

namespace update_test {

namespace {

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* exception)
{
    std::fprintf(stderr, "unhandled exception 0x%08lx\n",
                 exception->ExceptionRecord->ExceptionCode);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A crash in the code under test ends the program at once, instead of waiting in Wine's crash
// dialog until the service's time limit.
const bool g_crashesEndTheProgram = [] {
    SetUnhandledExceptionFilter(EndOnCrash);
    return true;
}();

}  // namespace

double NowMs()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

unsigned short ServicePort()
{
    wchar_t text[16] = {};
    if (!GetEnvironmentVariableW(L"UPDATE_SERVICE_PORT", text, 16))
        return 0;
    return static_cast<unsigned short>(_wtoi(text));
}

std::wstring ServiceUrl(const std::string& pathQuery)
{
    return L"http://127.0.0.1:" + std::to_wstring(ServicePort()) +
           std::wstring(pathQuery.begin(), pathQuery.end());
}

namespace {

class Socket {
public:
    Socket()
    {
        static const bool started = [] {
            WSADATA data;
            return WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        if (started)
            m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    }
    ~Socket()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_socket; }

private:
    SOCKET m_socket = INVALID_SOCKET;
};

}  // namespace

std::string ServiceExchange(const char* method, const std::string& target, const std::string& body)
{
    Socket connection;
    EXPECT_NE(INVALID_SOCKET, connection.get());
    const DWORD timeoutMs = 10000;
    setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof timeoutMs);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(ServicePort());
    if (connect(connection.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "update service not reachable on port " << ServicePort();
        return std::string();
    }
    // HTTP/1.0: the service closes the connection after its reply, which ends the read.
    const std::string request =
        std::string(method) + " " + target +
        " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    send(connection.get(), request.data(), static_cast<int>(request.size()), 0);
    std::string reply;
    char buffer[8192];
    int received = 0;
    while ((received = recv(connection.get(), buffer, sizeof buffer, 0)) > 0)
        reply.append(buffer, static_cast<size_t>(received));
    const size_t headEnd = reply.find("\r\n\r\n");
    EXPECT_TRUE(reply.size() > 12 && reply.compare(9, 3, "200") == 0)
        << method << " " << target << " answered: " << reply.substr(0, 200);
    return headEnd == std::string::npos ? std::string() : reply.substr(headEnd + 4);
}

void ConfigureService(const std::string& json)
{
    ServiceExchange("POST", "/_control/config", json);
}

void ClearRecordedRequests()
{
    ServiceExchange("POST", "/_control/clear");
}

std::vector<std::string> RecordedRequests(const std::string& field)
{
    // The listing is JSON; the values the tests look at hold no quote or backslash, so each
    // is the text between the quotes after its key.
    const std::string listing = ServiceExchange("GET", "/_control/requests");
    const std::string key = "\"" + field + "\": \"";
    std::vector<std::string> targets;
    for (size_t at = listing.find(key); at != std::string::npos; at = listing.find(key, at)) {
        at += key.size();
        const size_t end = listing.find('"', at);
        targets.push_back(listing.substr(at, end - at));
    }
    return targets;
}

std::string GeneratedBytes(size_t length, bool binary)
{
    static const std::string kPattern =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n";
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = binary ? static_cast<char>(i & 0xFF) : kPattern[i % kPattern.size()];
    return bytes;
}

std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0x0F];
    }
    return hex;
}

LogTail::LogTail()
{
    wchar_t path[MAX_PATH] = {};
    GetLogFilePath(path);
    m_path = path;
    m_start = test_support::ReadFileBytes(m_path).size();
}

std::vector<std::string> LogTail::NewLines() const
{
    const std::string bytes = test_support::ReadFileBytes(m_path);
    std::vector<std::string> lines;
    if (bytes.size() <= m_start)
        return lines;
    for (const std::string& line : test_support::SplitCrLfLines(bytes.substr(m_start)))
        lines.push_back(test_support::StripStamp(line));
    return lines;
}

DialogResponder::DialogResponder(WORD command)
{
    m_thread = std::thread([this, command] {
        const ULONGLONG deadline = GetTickCount64() + 15000;
        while (!m_stop && GetTickCount64() < deadline) {
            HWND dialog = test_support::FindProcessWindow(GetCurrentProcessId(), L"#32770");
            if (dialog == nullptr || !IsWindowVisible(dialog)) {
                Sleep(20);
                continue;
            }
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
            ++m_answered;
            // The same dialog is answered once; the next one may come after it is gone.
            test_support::WaitFor([&] { return m_stop || !IsWindow(dialog); }, 10000);
        }
    });
}

DialogResponder::~DialogResponder()
{
    m_stop = true;
    m_thread.join();
}

namespace {

ImportHook* g_dialogHook = nullptr;
int g_dialogCalls = 0;
double g_dialogReturnedAt = 0;

DWORD WINAPI TimedInternetErrorDlg(HWND owner, HINTERNET request, DWORD error, DWORD flags,
                                   LPVOID* data)
{
    const DWORD result =
        g_dialogHook->Original<decltype(&InternetErrorDlg)>()(owner, request, error, flags, data);
    ++g_dialogCalls;
    g_dialogReturnedAt = NowMs();
    return result;
}

}  // namespace

CredentialDialogWatch::CredentialDialogWatch()
{
    g_dialogCalls = 0;
    g_dialogReturnedAt = 0;
    m_hook = std::make_unique<ImportHook>("wininet.dll", "InternetErrorDlg",
                                          reinterpret_cast<const void*>(&TimedInternetErrorDlg));
    g_dialogHook = m_hook.get();
}

CredentialDialogWatch::~CredentialDialogWatch()
{
    m_hook.reset();
    g_dialogHook = nullptr;
}

bool CredentialDialogWatch::Installed() const
{
    return m_hook->Installed();
}

int CredentialDialogWatch::Calls() const
{
    return g_dialogCalls;
}

double CredentialDialogWatch::ReturnedAt() const
{
    return g_dialogReturnedAt;
}

}  // namespace update_test
