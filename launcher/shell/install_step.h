// Installs the downloaded build: the application is closed, its directory emptied, the
// installer run, and the application awaited.
#pragma once

// Ends when the installer has started the application; at once when the user declines to
// close the running application or the installer does not start; and 60 s after the installer
// and everything it started have ended without the application appearing.
void InstallUpdate();
