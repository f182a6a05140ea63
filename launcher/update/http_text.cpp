#include "update/http_text.h"

#include <memory>
#include <string>

#include "log/log_file.h"
#include "log/log_line.h"
#include "update/update_reply.h"
#include "update/url_request.h"
#include "update/utf8.h"

namespace {

constexpr int kMaxAttempts = 3;
constexpr DWORD kPauseAfterFailureMs = 1000;

void LogTooLarge()
{
    WriteLog(GetLogFile(), L"reply size error, limit: %d", http_text::kMaxBodyBytes);
}

// Reads the whole body into `body` by the attempt's deadline. Each read asks only for what has
// already arrived (a 64 KiB read would otherwise wait for 64 KiB), so that the deadline is
// checked between reads even when the server sends a byte at a time.
bool ReadBody(HINTERNET request, std::string& body, const internet::AttemptDeadline& deadline)
{
    wchar_t lengthText[100];
    internet::QueryContentLength(request, lengthText);
    const int64_t announced = lengthText[0] ? ParseDecimal64(lengthText) : -1;
    if (announced > static_cast<int64_t>(http_text::kMaxBodyBytes)) {
        LogTooLarge();
        return false;
    }

    auto buffer = std::make_unique<char[]>(internet::kReadBufferSize);
    for (;;) {
        DWORD available = 0;
        const internet::ReadOutcome waited =
            internet::WaitForData(request, available, http_text::kSilenceLimitMs, deadline);
        if (waited == internet::ReadOutcome::Failed)
            return false;
        if (waited == internet::ReadOutcome::End)
            break;
        if (available > internet::kReadRequestSize)
            available = internet::kReadRequestSize;
        DWORD read = 0;
        const internet::ReadOutcome outcome = internet::ReadChunk(
            request, buffer.get(), available, read, http_text::kSilenceLimitMs);
        if (outcome == internet::ReadOutcome::Failed)
            return false;
        if (outcome == internet::ReadOutcome::End)
            break;
        if (body.size() + read > http_text::kMaxBodyBytes) {
            body.clear();
            LogTooLarge();
            return false;
        }
        body.append(buffer.get(), read);
    }
    // A connection that ends early is not the end of the reply.
    if (announced >= 0 && static_cast<int64_t>(body.size()) != announced) {
        WriteLog(GetLogFile(), L"reply length error, received: %d, announced: %s",
                 static_cast<int>(body.size()), EscapeControls(lengthText).c_str());
        return false;
    }
    return true;
}

internet::Outcome TryOnce(InternetHandles& handles, const wchar_t* url, std::wstring& replyText)
{
    const internet::RequestRules rules{http_text::kSilenceLimitMs,
                                       internet::StartDeadline(http_text::kAttemptLimitMs), true};
    const internet::Outcome opened = internet::OpenUrlRequest(handles, url, rules);
    if (opened != internet::Outcome::Done)
        return opened;
    std::string body;
    if (!ReadBody(handles.Request(), body, rules.deadline))
        return internet::Outcome::Failed;
    // Decoded once, whole, so that a character split between two reads is decoded intact.
    // A zero byte ends the text.
    const size_t zero = body.find('\0');
    if (zero != std::string::npos)
        body.resize(zero);
    replyText += Utf8ToWide(body);
    return internet::Outcome::Done;
}

}  // namespace

bool HttpGetText(InternetHandles& handles, const wchar_t* url, std::wstring& replyText)
{
    WriteLog(GetLogFile(), L"%s", url);
    int failedAttempts = 0;
    bool success = false;
    while (failedAttempts < kMaxAttempts && !success) {
        replyText.clear();
        handles.Close();
        internet::Outcome outcome;
        try {
            outcome = TryOnce(handles, url, replyText);
        } catch (...) {
            WriteLog(GetLogFile(), L"InternetOpen unknown error");
            outcome = internet::Outcome::Failed;
        }
        if (outcome == internet::Outcome::Cancelled)
            break;
        if (outcome == internet::Outcome::Done) {
            success = true;
        } else {
            ++failedAttempts;
            Sleep(kPauseAfterFailureMs);
        }
    }
    handles.Close();
    return success;
}
