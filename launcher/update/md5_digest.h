// MD5 of a byte stream, computed with the platform's CryptoAPI while the bytes go by.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

class Md5Digest {
public:
    Md5Digest();
    ~Md5Digest();
    Md5Digest(const Md5Digest&) = delete;
    Md5Digest& operator=(const Md5Digest&) = delete;

    // False when the platform offers no MD5; Update and Finish then do nothing.
    bool IsReady() const { return m_hHash != 0; }
    void Update(const void* data, DWORD length);
    // 32 lower-case hexadecimal digits, or an empty string when the hash failed.
    std::wstring Finish();

private:
    HCRYPTPROV m_hProvider = 0;
    HCRYPTHASH m_hHash = 0;
    bool m_failed = false;
};
