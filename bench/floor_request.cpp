// The floor under the no-update road: a program that loads the DLLs named on its command line
// (bench/run passes the launcher's own imports), makes one WinINet request the way the launcher
// does (preconfigured proxy, no cache) and reads the reply to its end, then exits. What the
// launcher takes beyond this program is its own.
// Usage: floor_request <url> [<dll>...]        Exit code: 0 when the reply was read.
#include <windows.h>
#include <wininet.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    for (int i = 2; i < argc; ++i)
        if (!LoadLibraryW(argv[i]))
            return 3;
    HINTERNET session = InternetOpenW(L"floor", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session)
        return 1;
    HINTERNET request = InternetOpenUrlW(
        session, argv[1], nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    int code = 1;
    if (request) {
        char buffer[4096];
        DWORD read = 0;
        while (InternetReadFile(request, buffer, sizeof buffer, &read) && read != 0) {
        }
        code = 0;
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return code;
}
