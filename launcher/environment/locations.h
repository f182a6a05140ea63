// The fixed places on this machine: the application under Program Files and the download
// folder under the user's temporary folder. Each path is computed once and cached.
#pragma once

#include <cstdint>
#include <string>

// Whether a folder lookup's answer can be built on: `found` the call's result, and the path a
// full one with its drive or share ("\Vendor" would be on whatever drive is current).
bool IsUsableFolderPath(bool found, const wchar_t* path);

// Empty, logged once, when the system gives no usable folder; so then is every path below.
const std::wstring& GetProgramFilesDirectory();
// <Program Files>\<vendor folder>\<product folder>\ (base/brand.h); creates missing folder levels.
const std::wstring& GetApplicationDirectory();
// <Program Files>\<vendor folder>\<product folder> backup, without a trailing backslash: where the
// install step sets the installed application aside while an installer runs. Beside the
// application folder, so that moving it there is one rename on the same volume.
const std::wstring& GetApplicationBackupDirectory();
// The application executable; logs "<updater> path: ..." when first computed.
const std::wstring& GetApplicationPath();
// <Temp>\<vendor folder>\<product folder>\ ; creates missing folder levels. Empty when the temporary
// folder's path can't be formed (the call failed, or the path is too long); never relative.
const std::wstring& GetDownloadDirectory();

// The first two numbers of a file's version resource; outputs written only on success.
bool GetFileVersion(const wchar_t* path, uint16_t& major, uint16_t& minor);

// True when the application file exists with a size above 0.
bool IsApplicationFilePresent();

// The size of a file in bytes, read without access to its data (so also while another program
// uses it); -1 when it can't be opened or measured.
int64_t MeasureFileSize(const std::wstring& path);
