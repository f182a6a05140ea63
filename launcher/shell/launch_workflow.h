// The worker thread: check, download, install, start the application, exit.
#pragma once

#include <windows.h>

DWORD WINAPI LauncherWorker(LPVOID unused);

// Downloads the offered installer to the setup path; true when it is complete.
bool DownloadInstaller();
