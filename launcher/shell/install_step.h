// Installs the downloaded build: the application is closed, its directory emptied, the
// installer run, and the application awaited.
#pragma once

// Ends when the installer has started the application, or at once when the user declines to
// close the running application.
void InstallUpdate();
