// The update service's reply format and the version text, kept free of Windows headers.
#pragma once

#include <cstdint>
#include <string>

#include "update/update_record.h"

// The text between the first "<key>" of `record.replyText` and the first "</key>" after it,
// verbatim. False when either tag is missing.
bool GetReplyValue(const std::wstring& key, std::wstring& value, const UpdateRecord& record);

// Reads the eight reply values in their fixed order into `record.info`; stops with false at the
// first missing one or when ReturnCode does not read as 1. Values read before stay stored.
bool ParseUpdateReply(UpdateRecord& record);

// The installed version as the service writes it: major, a point, minor with at least two
// digits (2.5 gives "2.05").
std::wstring FormatVersionText(uint16_t major, uint16_t minor);

// The offered version text read back into the numbers FormatVersionText writes: digits, a
// point, digits, each at most 65535 ("2.06" and "2.6" both give 2 and 6). False for anything
// else; the outputs are written only on success.
bool ParseVersionText(const std::wstring& text, uint16_t& major, uint16_t& minor);

// Reads a decimal number the way the C runtime's _wtoi64 does: leading blanks, a sign, then the
// leading digits; 0 when there are none. Saturates instead of overflowing.
int64_t ParseDecimal64(const std::wstring& text);

// Whether an MD5 value from the reply is something to check a download against:
// exactly 32 hexadecimal digits, either case.
bool IsCheckableMd5(const std::wstring& digest);

// FileSize as the size of an installer: decimal digits with nothing but blanks around them,
// above 0 and within 63 bits. False for anything else (empty, 0, a sign, other characters),
// since no download can be checked against such a size.
bool ReadInstallerSize(const std::wstring& text, int64_t& size);
