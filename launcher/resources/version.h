// The launcher's own version, in one place: the log's "version:" line and the file's version
// resource, which Windows shows in the file's properties. Plain #defines so that windres can
// read this header too.
#pragma once

// As the log shows it. The numbers say the same the way the launcher reads an application's
// version: major in the high word of the file version's first half, minor in the low word,
// shown as "%d.%02d" (scripts/check-resources holds the three together).
#define LAUNCHER_VERSION        "0.01"
#define LAUNCHER_VERSION_MAJOR  0
#define LAUNCHER_VERSION_MINOR  1

#define LAUNCHER_VERSION_STRING_(x) #x
#define LAUNCHER_VERSION_STRING(x) LAUNCHER_VERSION_STRING_(x)
// The four numbers as the properties' "File version" line shows them: "0.1.0.0".
#define LAUNCHER_VERSION_DOTTED LAUNCHER_VERSION_STRING(LAUNCHER_VERSION_MAJOR) "." \
    LAUNCHER_VERSION_STRING(LAUNCHER_VERSION_MINOR) ".0.0"
