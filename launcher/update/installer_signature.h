// Whether a downloaded installer comes from the publisher: the platform checks its Authenticode
// signature, and the certificate that made the signature must be one this build pins. Without
// pins nothing is checked and everything behaves as it did before signing existed.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_resource.h"

// The pinned SHA-256 certificate fingerprints, given once by the executable before the worker
// starts (see signer_pins.h for the accepted text). Empty or null: no check. Text that holds no
// usable fingerprint still asks for the check, which then refuses every installer.
void SetPinnedSigners(const wchar_t* list);
bool HasPinnedSigners();

// The checked installer, open for reading with writes and deletion denied to everyone, so that
// the file that runs is the file that was checked. Move-only; closes on destruction.
class HeldInstaller {
public:
    // Opens `path` as described above; false (with GetLastError set) when it cannot.
    bool Open(const std::wstring& path);
    // INVALID_HANDLE_VALUE when nothing is held.
    HANDLE get() const { return m_file ? m_file.Get() : INVALID_HANDLE_VALUE; }
    void Release() { m_file.Reset(); }

private:
    UniqueHandle m_file;
};

// True when no signers are pinned (then `held` is left as it is), or when the installer at
// `path` has a signature the platform accepts, made by a pinned certificate; the check reads the
// file through `held`, opening it first when it is not open, and `held` then keeps the file open
// until the caller has started it. Otherwise a log line names the reason and `held` is released.
// Never shows any user interface.
bool AcceptInstaller(const std::wstring& path, HeldInstaller& held);

// SHA-256 of the bytes as 64 lower-case hexadecimal digits with the platform's AES provider;
// empty when the platform offers no SHA-256, with the failing call's error in `error`.
std::wstring Sha256Hex(const void* data, DWORD length, DWORD& error);
