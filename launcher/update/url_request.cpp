#include "update/url_request.h"

#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "log/log_file.h"
#include "update/installer_url.h"

namespace internet {

void LogTimeout(DWORD limitMs)
{
    WriteLog(GetLogFile(), L"receive timeout error, seconds: %d", limitMs / 1000);
}

namespace {

// Longest URL taken from a Location header; longer ones are not followed.
constexpr DWORD kMaxLocationChars = 2048;

// A reply header as text, empty when there is none.
std::wstring QueryHeader(HINTERNET request, DWORD infoLevel)
{
    wchar_t text[256] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD index = 0;
    if (!HttpQueryInfoW(request, infoLevel, text, &size, &index))
        return std::wstring();
    return text;
}

bool IsRedirect(DWORD status)
{
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT ||
           status == HTTP_STATUS_REDIRECT_METHOD || status == HTTP_STATUS_REDIRECT_KEEP_VERB ||
           status == HTTP_STATUS_PERMANENT_REDIRECT;
}

// Windows reports an expired wait as ERROR_INTERNET_TIMEOUT; Wine as 12030 (while waiting for
// the reply) or WSAETIMEDOUT (while reading it). A call that failed after waiting the whole
// limit is a timeout whatever its code.
bool IsTimeout(DWORD error, DWORD elapsedMs, DWORD limitMs)
{
    constexpr DWORD kClockSlackMs = 1000;
    return error == ERROR_INTERNET_TIMEOUT || error == WSAETIMEDOUT ||
           elapsedMs + kClockSlackMs >= limitMs;
}

void LogOpenFailure(DWORD error)
{
    WriteLog(GetLogFile(), L"InternetOpenUrl error, code: %d", error);
    OutputDebugStringW(L"m_hHttp错误");
}

DWORD QueryStatusCode(HINTERNET request)
{
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &length, nullptr))
        return 0;
    return status;
}

// The absolute URL a redirect points to; false when the reply names none usable.
bool QueryRedirectTarget(HINTERNET request, const std::wstring& base, std::wstring& target)
{
    wchar_t location[kMaxLocationChars] = {};
    DWORD size = sizeof location - sizeof(wchar_t);
    DWORD index = 0;
    if (!HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, &index) || !location[0])
        return false;
    wchar_t combined[kMaxLocationChars] = {};
    DWORD combinedChars = kMaxLocationChars;
    // A relative Location is resolved against the URL that answered with it.
    if (!InternetCombineUrlW(base.c_str(), location, combined, &combinedChars, ICU_NO_ENCODE))
        return false;
    target = combined;
    return true;
}

// Whether the answer on `request` came over TLS. Seen under Wine: after the credential dialog
// for a proxy's 407 to a CONNECT, the retry went to the proxy as a plain GET, so a proxy could
// have answered an https:// request itself.
bool CameOverTls(HINTERNET request)
{
    DWORD flags = 0;
    DWORD size = sizeof flags;
    return InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
           (flags & SECURITY_FLAG_SECURE) != 0;
}

bool SetTimeouts(HINTERNET request, DWORD limitMs)
{
    // On the request itself, before anything is sent: Wine ignores these options on the
    // session, and there a handle closed from another thread does not end a blocked call.
    return InternetSetOptionW(request, INTERNET_OPTION_CONNECT_TIMEOUT, &limitMs,
                              sizeof limitMs) &&
           InternetSetOptionW(request, INTERNET_OPTION_SEND_TIMEOUT, &limitMs, sizeof limitMs) &&
           InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &limitMs, sizeof limitMs);
}

// Connection and request handles for `url` in `handles`, nothing sent yet.
bool PrepareRequest(InternetHandles& handles, const std::wstring& url, DWORD limitMs,
                    const wchar_t* headers)
{
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
        LogOpenFailure(GetLastError());
        return false;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        LogOpenFailure(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return false;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (object.empty())
        object = L"/";
    if (parts.lpszExtraInfo)
        object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    if (!handles.AdoptConnection(InternetConnectW(handles.Session(), host.c_str(), parts.nPort,
                                                  nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0))) {
        LogOpenFailure(GetLastError());
        return false;
    }
    // Redirects are followed here, one by one, so that a loop ends and HTTPS never leads to
    // HTTP. No flag that ignores a certificate error (INTERNET_FLAG_IGNORE_CERT_*,
    // SECURITY_FLAG_IGNORE_*) is ever set: an untrusted, expired, revoked or misnamed
    // certificate fails the request with its WinINet error, like a failed connection.
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    if (!handles.AdoptRequest(HttpOpenRequestW(handles.Connection(), L"GET", object.c_str(),
                                               nullptr, nullptr, nullptr, flags, 0)) ||
        !SetTimeouts(handles.Request(), limitMs) ||
        // Each hop has a new request, so adding is enough (REPLACE would take one header only).
        (headers && !HttpAddRequestHeadersW(handles.Request(), headers, static_cast<DWORD>(-1),
                                            HTTP_ADDREQ_FLAG_ADD))) {
        LogOpenFailure(GetLastError());
        return false;
    }
    return true;
}

void LogReadFailure(DWORD error, DWORD elapsedMs, DWORD limitMs)
{
    if (IsTimeout(error, elapsedMs, limitMs))
        LogTimeout(limitMs);
    else
        WriteLog(GetLogFile(), L"InternetReadFile, code: %d", error);
}

bool AskForCredentials(HINTERNET request)
{
    const DWORD flags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                        FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
    return InternetErrorDlg(GetDesktopWindow(), request, ERROR_INTERNET_INCORRECT_PASSWORD, flags,
                            nullptr) == ERROR_INTERNET_FORCE_RETRY;
}

// A blocking WinINet call run on a thread of its own, so that the attempt ends at its
// deadline however the server trickles. Closing the request handle is how Windows ends such a
// call; Wine lets it go on until the server stops (a receive timeout only counts silence), so
// the thread is left to end on its own and touches nothing but this block, which it shares.
struct BlockingCall {
    std::function<BOOL(DWORD&)> call;
    UniqueHandle done;
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD value = 0;
};

struct CallResult {
    bool returned = false;  // false: the deadline came first
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD value = 0;
};

void RunCall(BlockingCall& blocking)
{
    blocking.ok = blocking.call(blocking.value);
    blocking.error = GetLastError();
}

CallResult CallBeforeDeadline(std::function<BOOL(DWORD&)> call, const AttemptDeadline& deadline)
{
    CallResult result;
    const DWORD waitMs = deadline.RemainingMs(GetTickCount());
    if (waitMs == 0)
        return result;
    auto shared = std::make_shared<BlockingCall>();
    shared->call = std::move(call);
    shared->done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool started = false;
    try {
        if (shared->done) {
            std::thread([shared] {
                RunCall(*shared);
                SetEvent(shared->done.Get());
            }).detach();
            started = true;
        }
    } catch (const std::system_error&) {
    }
    // Without a thread of its own, the call is bounded only by the silence limit.
    if (!started)
        RunCall(*shared);
    else if (WaitForSingleObject(shared->done.Get(), waitMs) != WAIT_OBJECT_0)
        return result;
    return CallResult{true, shared->ok, shared->error, shared->value};
}

// The status line and headers as WinINet holds them, measured without copying them.
bool HeadersWithinCap(HINTERNET request)
{
    wchar_t probe[2] = {};
    DWORD size = sizeof probe;
    if (HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, probe, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        size / sizeof(wchar_t) <= kMaxHeaderChars + 1)
        return true;
    WriteLog(GetLogFile(), L"reply header error, limit: %d", kMaxHeaderChars);
    return false;
}

// The hops of one request: redirects, credential prompts and the sends between them.
class RequestWalk {
public:
    RequestWalk(InternetHandles& handles, const wchar_t* url, const RequestRules& rules)
        : m_handles(handles), m_current(url), m_rules(rules)
    {
    }

    Outcome Run()
    {
        if (!PrepareRequest(m_handles, m_current, m_rules.silenceLimitMs, m_rules.headers))
            return Outcome::Failed;
        for (;;) {
            if (!Send())
                return Outcome::Failed;
            const DWORD status = QueryStatusCode(m_handles.Request());
            const bool answered = status == HTTP_STATUS_OK ||
                                  (status == HTTP_STATUS_PARTIAL_CONTENT && m_rules.acceptPartial);
            if (answered)
                return CheckTls();
            std::wstring target;
            if (IsRedirect(status) &&
                QueryRedirectTarget(m_handles.Request(), m_current, target)) {
                if (!Follow(target))
                    return Outcome::Failed;
                continue;
            }
            const Outcome asked = AskAgain(status);
            if (asked != Outcome::Done)
                return asked;
        }
    }

private:
    bool Send()
    {
        const HINTERNET request = m_handles.Request();
        const DWORD started = GetTickCount();
        const CallResult sent = CallBeforeDeadline(
            [request](DWORD&) { return HttpSendRequestW(request, nullptr, 0, nullptr, 0); },
            m_deadline);
        if (!sent.returned) {
            // Closing the handle is what ends the blocked call on Windows.
            m_handles.CloseRequest();
            LogTimeout(m_deadline.limitMs);
            return false;
        }
        if (sent.ok)
            return HeadersWithinCap(request);
        if (IsTimeout(sent.error, GetTickCount() - started, m_rules.silenceLimitMs))
            LogTimeout(m_rules.silenceLimitMs);
        else
            LogOpenFailure(sent.error);
        return false;
    }

    Outcome CheckTls()
    {
        if (IsHttpsUrl(m_current) && !CameOverTls(m_handles.Request())) {
            WriteLog(GetLogFile(), L"TLS error, reply not encrypted");
            return Outcome::Failed;
        }
        return Outcome::Done;
    }

    bool Follow(const std::wstring& target)
    {
        if (++m_redirects > kMaxRedirects) {
            WriteLog(GetLogFile(), L"redirect error, limit: %d", kMaxRedirects);
            return false;
        }
        // What went out over TLS never continues in clear text.
        if (IsHttpsUrl(m_current) && !IsHttpsUrl(target)) {
            WriteLog(GetLogFile(), L"redirect error, not https");
            return false;
        }
        m_current = target;
        m_handles.CloseRequest();
        return PrepareRequest(m_handles, m_current, m_rules.silenceLimitMs, m_rules.headers);
    }

    // Done: the same request goes out again with what the user typed.
    Outcome AskAgain(DWORD status)
    {
        const bool credentials =
            status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ;
        if (!credentials || m_rules.logCredentialStatus)
            WriteLog(GetLogFile(), L"HTTP_STATUS error, code: %d", status);
        if (!credentials)
            return Outcome::Failed;
        // A server that keeps refusing what the user typed would otherwise prompt forever.
        if (m_confirmed > kMaxCredentialRepeats) {
            WriteLog(GetLogFile(), L"credential error, prompts: %d", m_confirmed);
            return Outcome::Cancelled;
        }
        if (!AskForCredentials(m_handles.Request()))
            return Outcome::Cancelled;
        ++m_confirmed;
        // The time the user spent in the dialog is not the server's.
        m_deadline = StartDeadline(m_deadline.limitMs);
        return Outcome::Done;
    }

    InternetHandles& m_handles;
    std::wstring m_current;
    const RequestRules& m_rules;
    AttemptDeadline m_deadline = m_rules.deadline;
    int m_redirects = 0;
    int m_confirmed = 0;
};

}  // namespace

AttemptDeadline StartDeadline(DWORD limitMs)
{
    return AttemptDeadline{GetTickCount(), limitMs};
}

Outcome OpenUrlRequest(InternetHandles& handles, const wchar_t* url, const RequestRules& rules)
{
    if (!handles.AdoptSession(
            InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0))) {
        WriteLog(GetLogFile(), L"InternetOpen error, code: %d", GetLastError());
        OutputDebugStringW(L"m_hSession错误");
        return Outcome::Failed;
    }
    return RequestWalk(handles, url, rules).Run();
}

ReplyHeaders ReadReplyHeaders(HINTERNET request)
{
    ReplyHeaders reply;
    if (!request)
        return reply;
    reply.status = QueryStatusCode(request);
    reply.contentLength = QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH);
    reply.contentRange = QueryHeader(request, HTTP_QUERY_CONTENT_RANGE);
    reply.etag = QueryHeader(request, HTTP_QUERY_ETAG);
    reply.lastModified = QueryHeader(request, HTTP_QUERY_LAST_MODIFIED);
    return reply;
}

ReadOutcome ReadChunk(HINTERNET request, void* buffer, DWORD size, DWORD& read,
                      DWORD silenceLimitMs)
{
    read = 0;
    const DWORD started = GetTickCount();
    if (InternetReadFile(request, buffer, size, &read))
        return read != 0 ? ReadOutcome::Data : ReadOutcome::End;
    const DWORD error = GetLastError();
    read = 0;
    LogReadFailure(error, GetTickCount() - started, silenceLimitMs);
    return ReadOutcome::Failed;
}

ReadOutcome WaitForData(HINTERNET request, DWORD& available, DWORD silenceLimitMs,
                        const AttemptDeadline& deadline)
{
    available = 0;
    if (deadline.RemainingMs(GetTickCount()) == 0) {
        LogTimeout(deadline.limitMs);
        return ReadOutcome::Failed;
    }
    const DWORD started = GetTickCount();
    if (InternetQueryDataAvailable(request, &available, 0, 0))
        return available != 0 ? ReadOutcome::Data : ReadOutcome::End;
    const DWORD error = GetLastError();
    available = 0;
    LogReadFailure(error, GetTickCount() - started, silenceLimitMs);
    return ReadOutcome::Failed;
}

void QueryContentLength(HINTERNET request, wchar_t (&text)[100])
{
    ZeroMemory(text, sizeof text);
    DWORD size = sizeof text;
    DWORD index = 0;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index))
        text[0] = L'\0';
    text[99] = L'\0';
}

}  // namespace internet
