// MD5 of a byte stream, computed with the platform's CryptoAPI while the bytes go by.
#pragma once

#include "update/crypt_digest.h"

class Md5Digest {
public:
    // False when the platform offers no MD5; Update and Finish then do nothing.
    bool IsReady() const { return m_digest.IsReady(); }
    void Update(const void* data, DWORD length) { m_digest.Update(data, length); }
    // 32 lower-case hexadecimal digits, or an empty string when the hash failed.
    std::wstring Finish() { return m_digest.FinishHex(); }

private:
    CryptDigest m_digest{PROV_RSA_FULL, CALG_MD5};
};
