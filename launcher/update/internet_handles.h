// A caller-held pair of WinINet handles: the session and the request. Both are closed before
// each new request and before the operation that used them returns.
#pragma once

#include <windows.h>
#include <wininet.h>

struct InternetHandles {
    HINTERNET m_hSession = nullptr;
    HINTERNET m_hHttp = nullptr;

    InternetHandles() = default;
    InternetHandles(const InternetHandles&) = delete;
    InternetHandles& operator=(const InternetHandles&) = delete;
    ~InternetHandles() { Close(); }

    // Closes the request first, then the session it belongs to.
    void Close()
    {
        if (m_hHttp) {
            InternetCloseHandle(m_hHttp);
            m_hHttp = nullptr;
        }
        if (m_hSession) {
            InternetCloseHandle(m_hSession);
            m_hSession = nullptr;
        }
    }
};

// Connection steps shared by the text request and the download.
namespace internet {

// InternetOpenW with the system's proxy settings and no agent name.
HINTERNET OpenSession();
// InternetOpenUrlW without cache write, no extra headers.
HINTERNET OpenUrl(HINTERNET session, const wchar_t* url);
// The numeric HTTP status; 0 when it cannot be read, which counts as a failure.
DWORD QueryStatusCode(HINTERNET request);
// The system's credential dialog for a 401/407 reply; true when the user asked to try again.
bool AskForCredentials(HINTERNET request);

// Sizes of the fixed read buffer: a chunk is always followed by at least one zero byte.
inline constexpr DWORD kReadBufferSize = 65536;
inline constexpr DWORD kReadRequestSize = kReadBufferSize - 1;

}  // namespace internet
