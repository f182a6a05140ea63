// A file another program holds for a moment (a virus scanner, an indexer), with the Win32
// answers faked through the import hook: the installer's replace, open and start are tried again
// on 32, 33 and 5 with growing pauses (not slept here), and every other answer ends at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/brand.h"
#include "environment/busy_file.h"
#include "environment/processes.h"
#include "log/log_file.h"
#include "support/test_support.h"
#include "update/import_hook.h"
#include "update/installer_signature.h"

using namespace test_support;

namespace {

// The answers the faked call gives, one per call, then the real call's.
std::vector<DWORD> g_answers;
int g_calls = 0;
std::vector<DWORD> g_pauses;

// Gives the next faked answer: true (with the error set) when one was left.
bool FakedFailure()
{
    ++g_calls;
    if (g_answers.empty())
        return false;
    SetLastError(g_answers.front());
    g_answers.erase(g_answers.begin());
    return true;
}

void WINAPI RecordPause(DWORD ms) { g_pauses.push_back(ms); }

void Expect(std::vector<DWORD> answers)
{
    g_answers = std::move(answers);
    g_calls = 0;
    g_pauses.clear();
}

ImportHook* g_moveHook = nullptr;
BOOL WINAPI FakeMoveFileEx(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    return FakedFailure() ? FALSE
                          : g_moveHook->Original<decltype(&MoveFileExW)>()(from, to, flags);
}

ImportHook* g_createProcessHook = nullptr;
BOOL WINAPI FakeCreateProcess(LPCWSTR name, LPWSTR line, LPSECURITY_ATTRIBUTES process,
                              LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags,
                              LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION info)
{
    if (FakedFailure())
        return FALSE;
    return g_createProcessHook->Original<decltype(&CreateProcessW)>()(
        name, line, process, thread, inherit, flags, environment, folder, startup, info);
}

// Only opens of the installer under test are faked: the log and everything else go through.
std::wstring g_openTarget;
ImportHook* g_createFileHook = nullptr;
HANDLE WINAPI FakeCreateFile(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE model)
{
    if (name && g_openTarget == name && FakedFailure())
        return INVALID_HANDLE_VALUE;
    return g_createFileHook->Original<decltype(&CreateFileW)>()(name, access, share, security,
                                                                disposition, flags, model);
}

std::wstring Scratch(const wchar_t* name)
{
    return BuildPath(std::wstring(L"tests\\") + name);
}

}  // namespace

TEST(BusyFile, WaitsOutASharingViolationOnTheReplaceAndGivesUpOnAnythingElse)
{
    ImportHook sleep("kernel32.dll", "Sleep", reinterpret_cast<const void*>(&RecordPause));
    ImportHook move("kernel32.dll", "MoveFileExW", reinterpret_cast<const void*>(&FakeMoveFileEx));
    g_moveHook = &move;
    ASSERT_TRUE(sleep.Installed() && move.Installed());
    const std::wstring part = Scratch(L"busy-setup.exe.part");
    const std::wstring setup = Scratch(L"busy-setup.exe");

    const struct {
        const char* road;
        std::vector<DWORD> answers;
        DWORD result;
        int calls;
        std::vector<DWORD> pauses;
    } cases[] = {
        {"32, 32, then free", {32, 32}, 0, 3, {250, 500}},
        {"locked, then denied, then free", {33, 5}, 0, 3, {250, 500}},
        {"held throughout", {32, 32, 32, 32, 32, 32}, 32, 5, {250, 500, 1000, 1500}},
        {"virus found", {225}, 225, 1, {}},
        {"blocked by policy", {4551}, 4551, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road);
        ASSERT_TRUE(WriteFileBytes(part, "verified"));
        DeleteFileW(setup.c_str());
        Expect(c.answers);
        const size_t offset = OwnLogSize();
        EXPECT_EQ(c.result, ReplaceFileWhenFree(part, setup));
        EXPECT_EQ(c.calls, g_calls);
        EXPECT_EQ(c.pauses, g_pauses);
        EXPECT_EQ(c.result == 0, FileExists(setup));
        EXPECT_EQ(c.result != 0, FileExists(part)) << "the part is never lost";
        const std::vector<std::string> lines = OwnLogLinesSince(offset);
        ASSERT_EQ(c.pauses.size(), lines.size());
        if (!lines.empty()) {
            EXPECT_EQ("file replace error, code: " + std::to_string(c.answers[0]) +
                          ", again in 250 ms",
                      lines[0]);
        }
    }
    DeleteFileW(part.c_str());
    DeleteFileW(setup.c_str());
}

TEST(BusyFile, WaitsOutTheInstallersOpenForTheSignatureCheck)
{
    ImportHook sleep("kernel32.dll", "Sleep", reinterpret_cast<const void*>(&RecordPause));
    ImportHook open("kernel32.dll", "CreateFileW", reinterpret_cast<const void*>(&FakeCreateFile));
    g_createFileHook = &open;
    ASSERT_TRUE(open.Installed());
    g_openTarget = Scratch(L"busy-unsigned.exe");
    ASSERT_TRUE(WriteFileBytes(g_openTarget, "MZ stand-in installer"));
    SetPinnedSigners(L"E158FCE856B69B79F9A0061821316A1AD04D91BB959CD018B934A80FEB53204C");

    // Opened on the third try: the check goes on to the (missing) signature.
    Expect({32, 32});
    size_t offset = OwnLogSize();
    HeldInstaller held;
    EXPECT_FALSE(AcceptInstaller(g_openTarget, held));
    std::vector<std::string> lines = OwnLogLinesSince(offset);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("setup open error, code: 32, again in 500 ms", lines[1]);
    EXPECT_EQ(0u, lines[2].rfind("setup signature missing: ", 0)) << lines[2];

    // Held past the last try: the real error is what the log keeps.
    Expect({32, 32, 32, 32, 32});
    offset = OwnLogSize();
    EXPECT_FALSE(AcceptInstaller(g_openTarget, held));
    lines = OwnLogLinesSince(offset);
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("setup open error, code: 32", lines[4]);
    EXPECT_EQ(5, g_calls);

    SetPinnedSigners(nullptr);
    g_openTarget.clear();
    DeleteFileW(Scratch(L"busy-unsigned.exe").c_str());
}

TEST(BusyFile, WaitsOutTheInstallersStartAndLogsTheRealCodeOtherwise)
{
    ImportHook sleep("kernel32.dll", "Sleep", reinterpret_cast<const void*>(&RecordPause));
    ImportHook create("kernel32.dll", "CreateProcessW",
                      reinterpret_cast<const void*>(&FakeCreateProcess));
    g_createProcessHook = &create;
    ASSERT_TRUE(create.Installed());
    const std::wstring app = BuildPath(L"fixtures\\app-2.5\\" LAUNCHER_BRAND_APP_EXE);

    Expect({32, 32});
    size_t offset = OwnLogSize();
    ProgramStart started = StartProgram(app, false);
    EXPECT_EQ(33u, started.code);
    EXPECT_EQ((std::vector<std::string>{"CreateProcess error, code: 32, again in 250 ms",
                                        "CreateProcess error, code: 32, again in 500 ms"}),
              OwnLogLinesSince(offset));
    if (started.process)
        TerminateProcess(started.process.Get(), 0);

    // A virus found, or a policy: no retry; the WinExec-style code is 11, the log has the cause.
    for (const DWORD error : {DWORD{225}, DWORD{4551}}) {
        Expect({error});
        offset = OwnLogSize();
        EXPECT_EQ(11u, StartProgram(app, false).code);
        EXPECT_EQ(1, g_calls);
        EXPECT_EQ(std::vector<std::string>{"CreateProcess error, code: " + std::to_string(error)},
                  OwnLogLinesSince(offset));
    }
}
