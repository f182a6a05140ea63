// The download loop taken apart: each thing DownloadFile does per chunk, timed on its own over
// the same file, so that bench/download-speed can say where the time goes.
// Usage: download_parts <url> <destination> <size>
// Prints one "<part>=<milliseconds>" line per part.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <memory>
#include <string>

#include "update/md5_digest.h"
#include "update/url_request.h"

namespace {

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The body read to its end in requests of `request` bytes, nothing else done with it.
double ReadLoop(const wchar_t* url, DWORD request)
{
    HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET file = InternetOpenUrlW(session, url, nullptr, 0,
                                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    auto buffer = std::make_unique<char[]>(request);
    const double start = Now();
    DWORD read = 0;
    while (file && internet::ReadChunk(file, buffer.get(), request, read, 60000) ==
                       internet::ReadOutcome::Data) {
    }
    const double spent = Now() - start;
    InternetCloseHandle(file);
    InternetCloseHandle(session);
    return spent;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 2;
    const wchar_t* url = argv[1];
    const std::wstring destination = argv[2];
    const int64_t size = _wtoi64(argv[3]);
    const DWORD chunk = internet::kReadRequestSize;
    const int64_t chunks = (size + chunk - 1) / chunk;
    auto buffer = std::make_unique<char[]>(internet::kReadBufferSize);

    std::printf("read_64k=%.1f\n", ReadLoop(url, chunk));
    std::printf("read_1m=%.1f\n", ReadLoop(url, 1 << 20));

    double start = Now();
    for (int64_t i = 0; i < chunks; ++i)
        ZeroMemory(buffer.get(), internet::kReadBufferSize);
    std::printf("zero_buffer=%.1f\n", Now() - start);

    Md5Digest digest;
    start = Now();
    for (int64_t i = 0; i < chunks; ++i)
        digest.Update(buffer.get(), chunk);
    digest.Finish();
    std::printf("md5=%.1f\n", Now() - start);

    start = Now();
    FILE* out = _wfopen(destination.c_str(), L"wb");
    for (int64_t i = 0; out && i < chunks; ++i)
        fwrite(buffer.get(), 1, chunk, out);
    if (out)
        fclose(out);
    std::printf("file_writes=%.1f\n", Now() - start);

    // The resume record is rewritten once per MiB received: a small file created and closed.
    const std::wstring record = destination + L".record";
    start = Now();
    for (int64_t i = 0; i < size >> 20; ++i) {
        HANDLE file = CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, buffer.get(), 256, &written, nullptr);
        CloseHandle(file);
    }
    std::printf("record_writes=%.1f\n", Now() - start);
    DeleteFileW(record.c_str());
    DeleteFileW(destination.c_str());
    return 0;
}
