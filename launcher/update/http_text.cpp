#include "update/http_text.h"

#include <memory>
#include <string>

#include "log/log_file.h"
#include "update/utf8.h"

namespace {

constexpr int kMaxAttempts = 3;
constexpr DWORD kPauseAfterFailureMs = 1000;

enum class AttemptOutcome { Success, Failed, GiveUp };

// Reads the whole body. Bytes are collected and decoded once at the end, so a multi-byte
// character that straddles two reads is decoded whole.
std::wstring ReadBodyText(HINTERNET request)
{
    auto buffer = std::make_unique<char[]>(internet::kReadBufferSize);
    std::string body;
    DWORD read = 1;
    while (read != 0) {
        ZeroMemory(buffer.get(), internet::kReadBufferSize);
        read = 0;
        InternetReadFile(request, buffer.get(), internet::kReadRequestSize, &read);
        body.append(buffer.get(), read);
    }
    // A zero byte ends the text.
    const size_t zero = body.find('\0');
    if (zero != std::string::npos)
        body.resize(zero);
    return Utf8ToWide(body);
}

AttemptOutcome TryOnce(InternetHandles& handles, const wchar_t* url, std::wstring& replyText)
{
    handles.m_hSession = internet::OpenSession();
    if (!handles.m_hSession) {
        WriteLog(GetLogFile(), L"InternetOpen error, code: %d", GetLastError());
        OutputDebugStringW(L"m_hSession错误");
        return AttemptOutcome::Failed;
    }
    for (;;) {
        handles.m_hHttp = internet::OpenUrl(handles.m_hSession, url);
        if (!handles.m_hHttp) {
            WriteLog(GetLogFile(), L"InternetOpenUrl error, code: %d", GetLastError());
            OutputDebugStringW(L"m_hHttp错误");
            return AttemptOutcome::Failed;
        }
        const DWORD status = internet::QueryStatusCode(handles.m_hHttp);
        if (status == HTTP_STATUS_OK)
            break;
        WriteLog(GetLogFile(), L"HTTP_STATUS error, code: %d", status);
        if (status != HTTP_STATUS_DENIED && status != HTTP_STATUS_PROXY_AUTH_REQ)
            return AttemptOutcome::Failed;
        if (!internet::AskForCredentials(handles.m_hHttp))
            return AttemptOutcome::GiveUp;
        // Confirmed credentials: open the URL again on the same session, not a new attempt.
        InternetCloseHandle(handles.m_hHttp);
        handles.m_hHttp = nullptr;
    }
    replyText += ReadBodyText(handles.m_hHttp);
    return AttemptOutcome::Success;
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
        AttemptOutcome outcome;
        try {
            outcome = TryOnce(handles, url, replyText);
        } catch (...) {
            WriteLog(GetLogFile(), L"InternetOpen unknown error");
            outcome = AttemptOutcome::Failed;
        }
        if (outcome == AttemptOutcome::GiveUp)
            break;
        if (outcome == AttemptOutcome::Success) {
            success = true;
        } else {
            ++failedAttempts;
            Sleep(kPauseAfterFailureMs);
        }
    }
    handles.Close();
    return success;
}
