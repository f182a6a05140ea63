// The download loop taken apart: each thing DownloadFile does per chunk, timed on its own over
// the same file, so that bench/download-speed can say where the time goes.
// Usage: download_parts <url> <destination> <size>
// Prints one "<part>=<milliseconds>" line per part.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

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

struct Request {
    HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET file = nullptr;
    explicit Request(const wchar_t* url)
        : file(InternetOpenUrlW(session, url, nullptr, 0,
                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0))
    {
    }
    ~Request()
    {
        InternetCloseHandle(file);
        InternetCloseHandle(session);
    }
    // The next piece of the body; 0 at its end (or on a failure).
    DWORD Read(char* buffer, DWORD size) const
    {
        DWORD read = 0;
        return file && internet::ReadChunk(file, buffer, size, read, 60000) ==
                           internet::ReadOutcome::Data ? read : 0;
    }
};

// The body read to its end in requests of `request` bytes, nothing else done with it.
double ReadLoop(const wchar_t* url, DWORD request, int64_t& bytes)
{
    const Request body(url);
    auto buffer = std::make_unique<char[]>(request);
    const double start = Now();
    bytes = 0;
    while (const DWORD read = body.Read(buffer.get(), request))
        bytes += read;
    return Now() - start;
}

// The body read as it arrives: each read asks for what WinINet already holds (at most
// `request` bytes), so that no read waits for a buffer to fill.
double ReadAvailable(const wchar_t* url, DWORD request, int64_t& bytes, int64_t& reads)
{
    const Request body(url);
    auto buffer = std::make_unique<char[]>(request);
    const double start = Now();
    bytes = 0;
    reads = 0;
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(body.file, &available, 0, 0) || available == 0)
            break;
        const DWORD read = body.Read(buffer.get(), available < request ? available : request);
        if (read == 0)
            break;
        bytes += read;
        ++reads;
    }
    return Now() - start;
}

// A loop built the other way: 1 MiB reads on one thread while another digests and writes the
// previous piece, two buffers handed between them; the whole download, MD5 and file included.
double Pipelined(const wchar_t* url, const std::wstring& destination, int64_t& bytes)
{
    constexpr DWORD kPiece = 1 << 20;
    const Request body(url);
    std::unique_ptr<char[]> buffers[2] = {std::make_unique<char[]>(kPiece),
                                          std::make_unique<char[]>(kPiece)};
    DWORD sizes[2] = {};
    HANDLE filled[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr),
                        CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    HANDLE emptied[2] = {CreateEventW(nullptr, FALSE, TRUE, nullptr),
                      CreateEventW(nullptr, FALSE, TRUE, nullptr)};
    const double start = Now();
    std::thread reader([&] {
        for (int i = 0;; i ^= 1) {
            WaitForSingleObject(emptied[i], INFINITE);
            sizes[i] = body.Read(buffers[i].get(), kPiece);
            SetEvent(filled[i]);
            if (sizes[i] == 0)
                return;
        }
    });
    Md5Digest digest;
    FILE* out = _wfopen(destination.c_str(), L"wb");
    bytes = 0;
    for (int i = 0;; i ^= 1) {
        WaitForSingleObject(filled[i], INFINITE);
        if (sizes[i] == 0)
            break;
        digest.Update(buffers[i].get(), sizes[i]);
        if (out)
            fwrite(buffers[i].get(), 1, sizes[i], out);
        bytes += sizes[i];
        SetEvent(emptied[i]);
    }
    reader.join();
    digest.Finish();
    if (out)
        fclose(out);
    const double spent = Now() - start;
    for (HANDLE event : {filled[0], filled[1], emptied[0], emptied[1]})
        CloseHandle(event);
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

    // A loop that got fewer bytes than the file measured nothing: it says so instead.
    int64_t bytes = 0;
    const double read64k = ReadLoop(url, chunk, bytes);
    if (bytes == size)
        std::printf("read_64k=%.1f\n", read64k);
    const double read1m = ReadLoop(url, 1 << 20, bytes);
    if (bytes == size)
        std::printf("read_1m=%.1f\n", read1m);
    int64_t reads = 0;
    const double readAvailable = ReadAvailable(url, 1 << 20, bytes, reads);
    if (bytes == size)
        std::printf("read_available=%.1f\nread_available_kib=%.1f\n", readAvailable,
                    static_cast<double>(bytes) / 1024.0 / static_cast<double>(reads ? reads : 1));
    const double read256k = ReadLoop(url, 1 << 18, bytes);
    if (bytes == size)
        std::printf("read_256k=%.1f\n", read256k);
    const double pipelined = Pipelined(url, destination, bytes);
    if (bytes == size)
        std::printf("pipelined=%.1f\n", pipelined);

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
