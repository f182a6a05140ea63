// What the update-client tests share: the local update service (tests/service) they run next
// to, the new lines of this program's log, and an answer to the system's credential dialog.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace update_test {

// The service's port, from UPDATE_SERVICE_PORT (0 when the variable is missing).
unsigned short ServicePort();
// "http://127.0.0.1:<port>" + pathQuery.
std::wstring ServiceUrl(const std::string& pathQuery);

// Control channel of the service, over a plain socket so that WinINet's own state is left
// alone. Each returns the reply body; a reply other than 200 fails the current test.
std::string ServiceExchange(const char* method, const std::string& target,
                            const std::string& body = std::string());
void ConfigureService(const std::string& json);
void ClearRecordedRequests();
// The request targets recorded since the last clear, as sent (absolute form through a proxy).
std::vector<std::string> RecordedTargets();

// "0A1B..." for the bytes of `text`: lets a test hand the service any body through JSON
// without escaping.
std::string Hex(const std::string& bytes);

// The log lines (without their time stamps) written after construction.
class LogTail {
public:
    LogTail();
    std::vector<std::string> NewLines() const;

private:
    std::wstring m_path;
    size_t m_start = 0;
};

// Answers the first credential dialog this process shows with the given command (IDOK or
// IDCANCEL), from a thread of its own; gives up looking after 15 s.
class DialogResponder {
public:
    explicit DialogResponder(WORD command);
    ~DialogResponder();
    DialogResponder(const DialogResponder&) = delete;
    DialogResponder& operator=(const DialogResponder&) = delete;

    bool Answered() const { return m_answeredAt.load() != 0; }
    ULONGLONG AnsweredAt() const { return m_answeredAt.load(); }

private:
    std::atomic<ULONGLONG> m_answeredAt{0};
    std::thread m_thread;
};

}  // namespace update_test
