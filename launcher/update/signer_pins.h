// The build's list of pinned code-signing certificates, and the fingerprints compared with it.
// Pure text work, no Windows headers, so it builds and tests natively as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Lower-case hexadecimal text of the bytes, two digits per byte.
std::wstring HexDigits(const uint8_t* bytes, size_t length);

// The SHA-256 fingerprints in `list`, lower-cased. Entries are separated by ';', ',' or white
// space, and may be written with ':' between the bytes (as openssl prints them). An entry that is
// not 64 hexadecimal digits is left out: the build checks the list, so that only happens when
// the list was given by other means, and leaving it out pins nothing by mistake.
std::vector<std::wstring> ParsePinnedSigners(const std::wstring& list);

// True when `fingerprint` (64 hexadecimal digits, either case) is one of `pins`.
bool IsPinnedSigner(const std::vector<std::wstring>& pins, const std::wstring& fingerprint);
