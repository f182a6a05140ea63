// The downloaded installer checked as it will run: opened once, measured and hashed through
// that handle, and held so until its process exists; and the record of failed installs kept
// beside the download folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update/install_attempts.h"
#include "update/installer_signature.h"

enum class InstallerCheck {
    Checked,  // the announced size and MD5 (and, where pinned, signer): `held` keeps it open
    Absent,   // no file at the path
    Differs,  // another size or MD5: another build, or a file changed after its download
    Refused,  // it could not be opened, or the signer check refused it (logged)
};

// Opens `path` into `held` with read sharing only (a scanner's hold waited out), measures it and,
// when `md5` is checkable, hashes it through that same handle, then, in a build that pins
// signers, checks its signature on the held file. `held` is released on anything but Checked.
InstallerCheck CheckInstaller(const std::wstring& path, int64_t size, const std::wstring& md5,
                              HeldInstaller& held);

// The record at `path`; none when it is missing, unreadable or not exactly a record.
std::optional<AttemptRecord> ReadAttemptRecord(const std::wstring& path);
// Writes the record whole, never through a link standing at `path`; false when it can't.
bool WriteAttemptRecord(const std::wstring& path, const AttemptRecord& record);
// Removes the record; a link standing there is removed as a link, never what it leads to.
void RemoveAttemptRecord(const std::wstring& path);
