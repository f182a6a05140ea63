// The worker thread: check, download, install, start the application, exit.
#pragma once

#include <windows.h>

#include <string>

#include "update/download.h"
#include "update/update_record.h"

DWORD WINAPI LauncherWorker(LPVOID unused);

// Downloads the installer `info` announces to `setupPath`; true when it is complete. `report`,
// when given, tells how far the attempt got.
bool DownloadInstaller(const UpdateInfo& info, const std::wstring& setupPath,
                       DownloadReport* report = nullptr);
