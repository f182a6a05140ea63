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
// A reply whose status line and headers together are longer than this many characters fails
// the attempt: real replies carry well under 1 KiB of them.
inline constexpr DWORD kMaxHeaderChars = 64 * 1024;

// Sizes of the fixed read buffer: a chunk is always followed by at least one zero byte.
inline constexpr DWORD kReadBufferSize = 65536;
inline constexpr DWORD kReadRequestSize = kReadBufferSize - 1;

// How one request, one text fetch or one download attempt ended.
enum class Outcome {
    Done,       // opened (or fetched, or downloaded) as asked
    Failed,     // logged; the caller counts it and pauses
    Cancelled,  // no credentials given: the caller ends at once, without a pause
};

// The time one attempt may take from its start, on the tick count. Differences of tick
// counts stay right across the count's wrap after 49.7 days.
struct AttemptDeadline {
    DWORD startedMs;
    DWORD limitMs;

    // How long a call that starts at `nowMs` may still take; 0 once the deadline has passed.
    DWORD RemainingMs(DWORD nowMs) const
    {
        const DWORD elapsed = nowMs - startedMs;
        return elapsed >= limitMs ? 0 : limitMs - elapsed;
    }
};

// An attempt's deadline starting now.
AttemptDeadline StartDeadline(DWORD limitMs);

struct RequestRules {
    // Nothing received from the server for this long (connecting, waiting for the reply or
    // reading it) fails the request.
    DWORD silenceLimitMs;
    // Connecting, sending and receiving the status line and headers, over every hop, end by
    // this deadline, however steadily the server trickles.
    AttemptDeadline deadline;
    // The text request logs a 401/407 status before the credential dialog; the download
    // does not.
    bool logCredentialStatus;
    // Extra request headers, each line ending in CRLF, sent on every hop; null for none.
    const wchar_t* headers = nullptr;
    // A 206 reply counts as opened too (the caller asked for a range and judges the reply).
    bool acceptPartial = false;
};

// Opens a session and a GET request for `url` in `handles` (which must be empty), following
// redirects and showing the system's credential dialog for 401 and 407. Done: the request
// holds a reply with status 200 (or 206, see above). Failed with a reply in the request: the
// status was another one.
Outcome OpenUrlRequest(InternetHandles& handles, const wchar_t* url, const RequestRules& rules);

// What a download needs of a reply, read once: the texts are empty when a header is absent.
struct ReplyHeaders {
    unsigned long status = 0;
    std::wstring contentLength;
    std::wstring contentRange;
    std::wstring etag;
    std::wstring lastModified;
};
ReplyHeaders ReadReplyHeaders(HINTERNET request);

enum class ReadOutcome { Data, End, Failed };

// One InternetReadFile of at most `size` bytes. A failure is logged (a silent server as a
// timeout) and leaves `read` at 0: bytes handed over by a failing read are not trusted.
ReadOutcome ReadChunk(HINTERNET request, void* buffer, DWORD size, DWORD& read,
                      DWORD silenceLimitMs);

// Waits until some of the body has arrived (or the silence limit passes) without reading it:
// `available` bytes can then be read at once. End: the body is over. Fails at once, with the
// deadline's line, when the deadline has passed.
ReadOutcome WaitForData(HINTERNET request, DWORD& available, DWORD silenceLimitMs,
                        const AttemptDeadline& deadline);

// The Content-Length header as text, empty when there is none.
void QueryContentLength(HINTERNET request, wchar_t (&text)[100]);

// Writes the line for a wait that reached its limit.
void LogTimeout(DWORD limitMs);

}  // namespace internet
