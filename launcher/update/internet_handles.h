// The WinINet handles one request of the update client holds: the session, the connection to
// the server (or proxy) and the request. All are closed before each new request and before the
// operation that used them returns.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/unique_resource.h"

class InternetHandles {
public:
    InternetHandles() = default;
    InternetHandles(const InternetHandles&) = delete;
    InternetHandles& operator=(const InternetHandles&) = delete;
    ~InternetHandles() { Close(); }

    HINTERNET Session() const { return m_hSession.Get(); }
    HINTERNET Connection() const { return m_hConnection.Get(); }
    HINTERNET Request() const { return m_hHttp.Get(); }
    bool IsEmpty() const { return !m_hSession && !m_hConnection && !m_hHttp; }

    // Each takes over the handle given (null: none) and returns it.
    HINTERNET AdoptSession(HINTERNET session) { m_hSession.Reset(session); return session; }
    HINTERNET AdoptConnection(HINTERNET connection) { m_hConnection.Reset(connection); return connection; }
    HINTERNET AdoptRequest(HINTERNET request) { m_hHttp.Reset(request); return request; }

    // The request and its connection only; the session stays for the next hop.
    void CloseRequest()
    {
        m_hHttp.Reset();
        m_hConnection.Reset();
    }

    // Children before the session they belong to.
    void Close()
    {
        CloseRequest();
        m_hSession.Reset();
    }

private:
    UniqueInternetHandle m_hSession;
    UniqueInternetHandle m_hConnection;
    UniqueInternetHandle m_hHttp;
};
