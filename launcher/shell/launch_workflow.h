// The worker thread: check, download, install, start the application, exit.
#pragma once

#include <windows.h>

#include "update/download.h"

DWORD WINAPI LauncherWorker(LPVOID unused);

// Downloads the offered installer to the setup path; true when it is complete. `report`, when
// given, tells how far the attempt got.
bool DownloadInstaller(DownloadReport* report = nullptr);
