// Emptying the application directory before an installer runs.
#pragma once

#include <string>

// Removes every file and folder below `directory`, depth first, as far as possible. The
// directory of the first call in the process is kept; any other directory passed in is removed
// once emptied. Links inside the tree are removed as links and never followed, so nothing
// outside the tree is touched. An empty path (or a lone backslash) is refused.
void DeleteDirectoryTree(const std::wstring& directory);
