// Opening a URL for the update client: the one place for the session, the status, the
// credential prompt and the limits that keep a misbehaving server from holding the launcher.
#pragma once

#include <cstdint>
#include <string>

#include "update/internet_handles.h"

namespace internet {

// A request follows at most this many redirects; one more fails it.
inline constexpr int kMaxRedirects = 10;
// After the user confirmed the credential dialog, the same request may ask again this many
// times; the next request for credentials is answered as if the user had cancelled.
inline constexpr int kMaxCredentialRepeats = 3;

// Sizes of the fixed read buffer: a chunk is always followed by at least one zero byte.
inline constexpr DWORD kReadBufferSize = 65536;
inline constexpr DWORD kReadRequestSize = kReadBufferSize - 1;

struct RequestRules {
    // Nothing received from the server for this long (connecting, waiting for the reply or
    // reading it) fails the request.
    DWORD silenceLimitMs;
    // The text request logs a 401/407 status before the credential dialog; the download
    // does not.
    bool logCredentialStatus;
    // Extra request headers, each line ending in CRLF, sent on every hop; null for none.
    const wchar_t* headers = nullptr;
    // A 206 reply counts as opened too (the caller asked for a range and judges the reply).
    bool acceptPartial = false;
};

enum class OpenOutcome {
    Opened,     // handles.Request() holds a request answered with status 200 (or 206, see above)
    Failed,     // logged; the caller counts it and pauses
    Cancelled,  // no credentials given: the caller ends at once, without a pause
};

// Opens a session and a GET request for `url` in `handles` (which must be empty), following
// redirects and showing the system's credential dialog for 401 and 407.
OpenOutcome OpenUrlRequest(InternetHandles& handles, const wchar_t* url,
                           const RequestRules& rules);

enum class ReadOutcome { Data, End, Failed };

// One InternetReadFile of at most `size` bytes. A failure is logged (a silent server as a
// timeout) and leaves `read` at 0: bytes handed over by a failing read are not trusted.
ReadOutcome ReadChunk(HINTERNET request, void* buffer, DWORD size, DWORD& read,
                      DWORD silenceLimitMs);

// Waits until some of the body has arrived (or the limit passes) without reading it:
// `available` bytes can then be read at once. End: the body is over.
ReadOutcome WaitForData(HINTERNET request, DWORD& available, DWORD silenceLimitMs);

// The Content-Length header as text, empty when there is none.
void QueryContentLength(HINTERNET request, wchar_t (&text)[100]);

// A reply header as text (e.g. HTTP_QUERY_ETAG, HTTP_QUERY_STATUS_CODE), empty when there is
// none or no reply.
std::wstring QueryHeader(HINTERNET request, DWORD infoLevel);

// Writes the line for a wait that reached its limit.
void LogTimeout(DWORD limitMs);

}  // namespace internet
