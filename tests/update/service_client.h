// What the update-client tests share: the local update service (tests/service) they run next
// to, the new lines of this program's log, and an answer to the system's credential dialog.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "update/import_hook.h"

namespace update_test {

// Milliseconds on the performance counter (finer than GetTickCount64's steps).
double NowMs();

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
// One field of each request recorded since the last clear, in order: "path_query" (path and
// query as asked, whatever the form of the request line) or "host".
std::vector<std::string> RecordedRequests(const std::string& field = "path_query");

// The bytes the service generates for /fault/bytes/<n> (and drop, trickle): printable text,
// or with fill=binary the byte values 0..255 over and over.
std::string GeneratedBytes(size_t length, bool binary = false);

// "0a1b..." for `bytes`: lets a test hand the service any body through JSON
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

// Answers every credential dialog this process shows with the given command (IDOK or
// IDCANCEL), from a thread of its own, until it is destroyed; stops looking after 15 s.
class DialogResponder {
public:
    explicit DialogResponder(WORD command);
    ~DialogResponder();
    DialogResponder(const DialogResponder&) = delete;
    DialogResponder& operator=(const DialogResponder&) = delete;

    int Answered() const { return m_answered.load(); }

private:
    std::atomic<int> m_answered{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Counts the credential dialogs the launcher code asks for and notes when the last one
// returned. Wine without a window manager takes about 2 s to hide a dialog, so a pause after
// it is measured from that return. One watch at a time.
class CredentialDialogWatch {
public:
    CredentialDialogWatch();
    ~CredentialDialogWatch();
    CredentialDialogWatch(const CredentialDialogWatch&) = delete;
    CredentialDialogWatch& operator=(const CredentialDialogWatch&) = delete;

    bool Installed() const;
    int Calls() const;
    double ReturnedAt() const;

private:
    std::unique_ptr<ImportHook> m_hook;
};

}  // namespace update_test
