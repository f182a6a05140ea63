// A hash of a byte stream, computed with the platform's CryptoAPI while the bytes go by; the one
// helper behind the installer's MD5 and the signer's SHA-256 fingerprint.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "base/unique_resource.h"

class CryptDigest {
public:
    // `providerType` PROV_RSA_AES also tries the AES provider by its names (XP SP3 calls it
    // "... (Prototype)"), since some installations have no default provider of that type.
    CryptDigest(DWORD providerType, ALG_ID algorithm);

    // False when the platform offers no such hash; Update and FinishHex then do nothing.
    bool IsReady() const { return static_cast<bool>(m_hHash); }
    // The error of the first call that failed, 0 while none did.
    DWORD Error() const { return m_error; }

    void Update(const void* data, DWORD length);
    // Lower-case hexadecimal digits of the hash, or an empty string when any step failed.
    std::wstring FinishHex();

private:
    void Fail();

    UniqueCryptProvider m_hProvider;
    UniqueCryptHash m_hHash;
    DWORD m_error = 0;
    bool m_failed = false;
};
