// Finding a running program by its executable name, and starting programs, with the stand-in
// application as the program: its start records in %TEMP% say which build started.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <cwchar>

#include <string>
#include <vector>

#include "environment/managed_application.h"
#include "environment/processes.h"
#include "support/test_support.h"
#include "update/import_hook.h"

using namespace test_support;

namespace {

constexpr DWORD kStartMs = 20000;

std::wstring StandIn(const std::wstring& version)
{
    return BuildPath(L"fixtures\\app-" + version + L"\\" + kApplicationExeName);
}

std::wstring Quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

// Identifiers of the processes named `exeName`, in snapshot order.
std::vector<DWORD> ProcessesNamed(const std::wstring& exeName)
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (exeName == entry.szExeFile)
            found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

void EndProcessesNamed(const std::wstring& exeName)
{
    for (const DWORD id : ProcessesNamed(exeName)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
}

std::wstring StartsLog()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"stand-in-app-starts.log";
}

size_t StartsLogSize()
{
    return ReadFileBytes(StartsLog()).size();
}

std::vector<std::string> StartsSince(size_t offset)
{
    const std::string bytes = ReadFileBytes(StartsLog());
    return bytes.size() < offset ? std::vector<std::string>{}
                                 : SplitCrLfLines(bytes.substr(offset));
}

// Removes what it names when the test ends, however it ends.
struct Scratch {
    std::wstring path;
    ~Scratch() { RemoveTree(path); }
};

// Faked answers for what Wine never shows: an elevated process's session, and the shell.
ImportHook* g_enumerateHook = nullptr;
enum class ListAnswer { Real, OtherSession, Fails };
ListAnswer g_listAnswer = ListAnswer::Real;

BOOL WINAPI RefuseOthersSession(DWORD processId, DWORD* session)
{
    if (processId != GetCurrentProcessId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *session = 1;
    return TRUE;
}

BOOL WINAPI FakeEnumerateProcesses(HANDLE server, DWORD reserved, DWORD version,
                                   WTS_PROCESS_INFOW** list, DWORD* count)
{
    if (g_listAnswer == ListAnswer::Fails) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    const BOOL listed = g_enumerateHook->Original<decltype(&WTSEnumerateProcessesW)>()(
        server, reserved, version, list, count);
    // The real list, with every session read as 1 (this process's, as faked above) or 2.
    for (DWORD i = 0; listed && i < *count; ++i)
        (*list)[i].SessionId =
            g_listAnswer == ListAnswer::OtherSession && (*list)[i].ProcessId != GetCurrentProcessId()
                ? 2
                : 1;
    return listed;
}

BOOL WINAPI RequireElevation(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                             DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    SetLastError(740);  // ERROR_ELEVATION_REQUIRED
    return FALSE;
}

HWND g_promptOwner = nullptr;
bool g_apartmentThreaded = false;

BOOL WINAPI DeclineConsent(SHELLEXECUTEINFOW* execute)
{
    g_promptOwner = execute->hwnd;
    // A thread already in a single-threaded apartment refuses to join the multithreaded one.
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_apartmentThreaded = joined == RPC_E_CHANGED_MODE;
    if (SUCCEEDED(joined))
        CoUninitialize();
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

}  // namespace

TEST(FindProcessByName, MatchesTheWholeExecutableNameInAnyCase)
{
    EndProcessesNamed(kApplicationExeName);
    const Scratch folder{BuildPath(L"tests\\process-names")};
    CreateDirectoryW(folder.path.c_str(), nullptr);
    // Windows reports the starter's spelling: here a shortcut's, in capitals.
    std::wstring upper = kApplicationExeName, lower = kApplicationExeName;
    CharUpperW(upper.data());
    CharLowerW(lower.data());
    const std::wstring capitals = folder.path + L"\\" + upper;
    ASSERT_TRUE(CopyFileTo(StandIn(L"2.5"), capitals));

    ChildProcess app(Quoted(capitals));
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(WaitFor([&] { return FindProcessByName(kApplicationExeName) == app.Id(); },
                        kStartMs));
    EXPECT_EQ(app.Id(), FindProcessByName(lower.c_str()));
    EXPECT_EQ(0u, FindProcessByName(lower.substr(0, lower.size() - 4).c_str()));
    EXPECT_EQ(0u, FindProcessByName(capitals));
    app.Kill();
    EndProcessesNamed(upper.c_str());
}

TEST(FindProcessByName, ComparesNamesAsTheFileSystemDoesLongOrShort)
{
    // The comparison alone, on names of its own: no file or brand is involved.
    const std::wstring longName = L"Osker Map Updater.exe";
    const std::wstring shortName = L"OSKERM~1.EXE";
    const struct {
        const wchar_t* reported;
        bool same;
    } cases[] = {
        {L"Osker Map Updater.exe", true},  {L"OSKER MAP UPDATER.EXE", true},
        {L"osker map updater.exe", true},  {L"OSKERM~1.EXE", true},
        {L"oskerm~1.exe", true},           {L"Osker Map Updater", false},
        {L"Osker Map Updater.exe.bak", false}, {L"OSKERM~2.EXE", false},
        {L"C:\\Program Files\\Osker\\Osker Map Updater\\Osker Map Updater.exe", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.reported, c.reported + wcslen(c.reported)));
        EXPECT_EQ(c.same, IsSameProgramName(c.reported, longName, shortName));
    }
    // Without a short name (the file is gone, or has none), the long one alone counts.
    EXPECT_FALSE(IsSameProgramName(L"", longName, L""));
    EXPECT_TRUE(IsSameProgramName(L"OSKER MAP UPDATER.EXE", longName, L""));
}

TEST(FindProcessByName, GivesTheFirstOfSeveralInSnapshotOrderAndZeroForNone)
{
    EndProcessesNamed(kApplicationExeName);
    EXPECT_EQ(0u, FindProcessByName(kApplicationExeName));

    ChildProcess first(Quoted(StandIn(L"2.5")));
    ChildProcess second(Quoted(StandIn(L"2.6")));
    ASSERT_TRUE(WaitFor([] { return ProcessesNamed(kApplicationExeName).size() == 2; }, kStartMs));
    const std::vector<DWORD> listed = ProcessesNamed(kApplicationExeName);
    const DWORD found = FindProcessByName(kApplicationExeName);
    EXPECT_TRUE(found == first.Id() || found == second.Id()) << found;
    EXPECT_EQ(listed.front(), found);
}

TEST(RunProgram, StartsAPathWithBlanksItselfAndNotTheProgramNamedByItsFirstWord)
{
    wchar_t programFiles[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
    const std::wstring folder = std::wstring(programFiles) + L"\\Launcher Run Test";
    const size_t blank = folder.find(L' ');
    ASSERT_NE(std::wstring::npos, blank) << "no blank in " << folder;
    // Unquoted, "C:\Program Files\..." is first tried as C:\Program.exe with arguments.
    const Scratch decoy{folder.substr(0, blank) + L".exe"};
    const Scratch target{folder};
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"\\" + kApplicationExeName;
    ASSERT_TRUE(CopyFileTo(StandIn(L"2.6"), program));
    ASSERT_TRUE(CopyFileTo(StandIn(L"2.5"), decoy.path));
    EndProcessesNamed(kApplicationExeName);

    const size_t offset = StartsLogSize();
    EXPECT_GT(RunProgram(program), 31u);
    EXPECT_TRUE(WaitFor([&] { return !StartsSince(offset).empty(); }, kStartMs));
    const std::vector<std::string> starts = StartsSince(offset);
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ(0u, starts[0].rfind("started 2.6 ", 0)) << starts[0];

    EndProcessesNamed(kApplicationExeName);
    EndProcessesNamed(decoy.path.substr(decoy.path.rfind(L'\\') + 1));
}

TEST(RunProgram, ReportsAMissingProgramWithACodeOf31OrLess)
{
    EXPECT_LE(RunProgram(L"C:\\No Such Folder\\missing program.exe"), 31u);
    EXPECT_LE(RunProgram(BuildPath(L"fixtures\\no-such-program.exe")), 31u);
}

TEST(RunProgram, ReportsAFileThatIsNoProgramAsBadFormat)
{
    const Scratch folder{BuildPath(L"tests\\not-a-program")};
    CreateDirectoryW(folder.path.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(folder.path + L"\\empty.exe", ""));
    ASSERT_TRUE(WriteFileBytes(folder.path + L"\\text.exe", "this is no program\r\n"));
    EXPECT_EQ(11u, RunProgram(folder.path + L"\\empty.exe"));
    EXPECT_EQ(11u, RunProgram(folder.path + L"\\text.exe"));
}

TEST(StartProgram, DecidesTheWayTheCodeTheLineAndTheWait)
{
    // Elevation can't be produced under Wine: the decisions are checked for every answer.
    const struct {
        const char* road;
        StartDecision decision;
        UINT code;
        bool throughShell;
        bool wait;
        const wchar_t* line;
        DWORD value;
    } cases[] = {
        {"started", DecideAfterCreateProcess(true, 0), 33, false, true, nullptr, 0},
        {"missing", DecideAfterCreateProcess(false, ERROR_FILE_NOT_FOUND), 2, false, false,
         L"CreateProcess error, code: %d", ERROR_FILE_NOT_FOUND},
        {"no folder", DecideAfterCreateProcess(false, ERROR_PATH_NOT_FOUND), 3, false, false,
         L"CreateProcess error, code: %d", ERROR_PATH_NOT_FOUND},
        {"no program", DecideAfterCreateProcess(false, ERROR_BAD_EXE_FORMAT), 11, false, false,
         L"CreateProcess error, code: %d", ERROR_BAD_EXE_FORMAT},
        {"needs elevation", DecideAfterCreateProcess(false, 740), 11, true, false,
         L"CreateProcess error, code: %d, start through the shell", 740},
        {"consented", DecideAfterShellExecute(true, 0, true), 33, false, true,
         L"started through the shell", 0},
        {"no handle", DecideAfterShellExecute(true, 0, false), 33, false, false,
         L"started through the shell", 0},
        {"declined", DecideAfterShellExecute(false, ERROR_CANCELLED, false), 5, false, false,
         L"ShellExecuteEx error, code: %d", ERROR_CANCELLED},
        {"shell failed", DecideAfterShellExecute(false, ERROR_FILE_NOT_FOUND, false), 2, false,
         false, L"ShellExecuteEx error, code: %d", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road);
        EXPECT_EQ(c.code, c.decision.code);
        EXPECT_EQ(c.throughShell, c.decision.startThroughShell);
        EXPECT_EQ(c.wait, c.decision.waitForInputIdle);
        EXPECT_EQ(std::wstring(c.line ? c.line : L""),
                  std::wstring(c.decision.logFormat ? c.decision.logFormat : L""));
        if (c.line) {
            EXPECT_EQ(c.value, c.decision.logValue);
        }
    }
    EXPECT_EQ(0u, WinExecCodeFor(0));  // WinExec's "out of resources"
}

TEST(FindProcessByName, CountsOnlyTheLaunchersOwnSession)
{
    // Wine runs everything in one session: the other answers are checked on the decision.
    const struct {
        const char* road;
        bool known;
        DWORD session;
        bool ownKnown;
        bool unreadableIsOwn;
        bool counted;
    } cases[] = {
        {"same session", true, 1, true, false, true},
        {"another user's, in session 2", true, 2, true, true, false},
        {"unreadable, XP or the installed rule: another user's", false, 0, true, false, false},
        {"unreadable before a start, from Vista on: maybe elevated", false, 0, true, true, true},
        {"own session unknown: all count", true, 2, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road);
        EXPECT_EQ(c.counted, IsInOwnSession(c.known, c.session, c.ownKnown, 1, c.unreadableIsOwn));
    }
    // The one-launcher mutex: made by an elevated launcher, it exists but can't be opened.
    EXPECT_TRUE(IsAnotherInstanceRunning(true, ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(IsAnotherInstanceRunning(true, 0));
    EXPECT_TRUE(IsAnotherInstanceRunning(false, ERROR_ACCESS_DENIED));
    EXPECT_FALSE(IsAnotherInstanceRunning(false, ERROR_INVALID_HANDLE));  // a name clash: run
}

TEST(FindProcessByName, ReadsSessionsWithoutOpeningProcessesAndDoubtsOnlyWhereAsked)
{
    EndProcessesNamed(kApplicationExeName);
    ChildProcess app(Quoted(StandIn(L"2.5")));
    ASSERT_TRUE(WaitFor([&] { return FindProcessByName(kApplicationExeName) == app.Id(); },
                        kStartMs));
    // As for an elevated process: the application's own session can't be asked.
    ImportHook query("kernel32.dll", "ProcessIdToSessionId",
                     reinterpret_cast<const void*>(&RefuseOthersSession));
    ImportHook list("wtsapi32.dll", "WTSEnumerateProcessesW",
                    reinterpret_cast<const void*>(&FakeEnumerateProcesses));
    g_enumerateHook = &list;
    ASSERT_TRUE(query.Installed() && list.Installed());

    const struct {
        const char* road;
        ListAnswer answer;
        bool found;         // counted when an unreadable session is another's
        bool foundInDoubt;  // counted before a start (Wine reports Vista or later)
    } cases[] = {
        {"listed by terminal services", ListAnswer::Real, true, true},
        {"listed in another session", ListAnswer::OtherSession, false, false},
        {"no list: each process asked, refused", ListAnswer::Fails, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road);
        g_listAnswer = c.answer;
        EXPECT_EQ(c.found ? app.Id() : 0u, FindProcessByName(kApplicationExeName));
        EXPECT_EQ(c.foundInDoubt ? app.Id() : 0u,
                  FindProcessByName(kApplicationExeName, {}, UnreadableSession::Own));
    }
    g_listAnswer = ListAnswer::Real;
    app.Kill();
}

TEST(StartProgram, OwnsTheConsentPromptBySplashAndGivesTheShellAnApartment)
{
    HWND splash = CreateWindowExW(0, L"STATIC", L"splash", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, splash);
    ImportHook create("kernel32.dll", "CreateProcessW",
                      reinterpret_cast<const void*>(&RequireElevation));
    ImportHook shell("shell32.dll", "ShellExecuteExW",
                     reinterpret_cast<const void*>(&DeclineConsent));
    ASSERT_TRUE(create.Installed() && shell.Installed());

    EXPECT_EQ(5u, StartProgram(StandIn(L"2.5"), true, splash).code);
    EXPECT_EQ(splash, g_promptOwner);
    EXPECT_TRUE(g_apartmentThreaded);
    // The apartment ends with the call: this thread is free to choose again.
    const HRESULT after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_TRUE(SUCCEEDED(after));
    if (SUCCEEDED(after))
        CoUninitialize();
    DestroyWindow(splash);
}

TEST(StartProgram, WatchesTheProgramAndWhatItStartsUntilAllHaveEnded)
{
    EndProcessesNamed(kApplicationExeName);
    // The stand-in installer starts the application and ends; the application (which inherits
    // this setting) ends by itself a few seconds later.
    SetEnvironmentVariableW(L"STAND_IN_APP_EXIT_AFTER_MS", L"3000");
    ProgramStart setup = StartProgram(BuildPath(L"fixtures\\setup-2.6\\Setup.exe"), true);
    SetEnvironmentVariableW(L"STAND_IN_APP_EXIT_AFTER_MS", nullptr);
    ASSERT_EQ(33u, setup.code);
    ASSERT_TRUE(setup.process);
    EXPECT_TRUE(setup.job) << "the job was refused";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(setup.process.Get(), kStartMs));
    EXPECT_NE(0u, FindProcessByName(kApplicationExeName));
    EXPECT_TRUE(IsProgramRunning(setup)) << "the installer's application was not counted";
    EXPECT_TRUE(WaitFor([&] { return !IsProgramRunning(setup); }, kStartMs));
    EXPECT_EQ(0u, FindProcessByName(kApplicationExeName));
}
