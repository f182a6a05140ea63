// The WinINet handles one request of the update client holds: the session, the connection to
// the server (or proxy) and the request. All are closed before each new request and before the
// operation that used them returns.
#pragma once

#include <windows.h>
#include <wininet.h>

struct InternetHandles {
    HINTERNET m_hSession = nullptr;
    HINTERNET m_hConnection = nullptr;
    HINTERNET m_hHttp = nullptr;

    InternetHandles() = default;
    InternetHandles(const InternetHandles&) = delete;
    InternetHandles& operator=(const InternetHandles&) = delete;
    ~InternetHandles() { Close(); }

    // The request and its connection only; the session stays for the next hop.
    void CloseRequest()
    {
        CloseOne(m_hHttp);
        CloseOne(m_hConnection);
    }

    // Children before the session they belong to.
    void Close()
    {
        CloseRequest();
        CloseOne(m_hSession);
    }

private:
    static void CloseOne(HINTERNET& handle)
    {
        if (handle) {
            InternetCloseHandle(handle);
            handle = nullptr;
        }
    }
};
