// Emptying the application directory before an installer runs, and removing a folder tree.
#pragma once

#include <windows.h>

#include <string>

// Removes every file and folder below `directory`, depth first, as far as possible. The
// directory of the first call in the process is kept; any other directory passed in is removed
// once emptied. Links inside the tree are removed as links and never followed, so nothing
// outside the tree is touched. An empty path (or a lone backslash) is refused.
void DeleteDirectoryTree(const std::wstring& directory);

// Empties `directory` in the same way and then removes it, whatever directory the first call
// above protects. True when it is gone afterwards (or was never there).
bool RemoveDirectoryTree(const std::wstring& directory);

// What the removal does with one entry of the tree.
enum class EntryTreatment {
    DeleteFile,       // an ordinary file
    EmptyAndRemove,   // an ordinary folder: its contents first, then itself
    RemoveLink,       // a junction or symbolic link: the link itself, never what it points to
    Leave,            // shows as a plain entry but resolves elsewhere: removing it could reach
                      // its target, so it stays
};

// `attributes` as listed; `reparseTag` the entry's reparse tag when `tagKnown`;
// `resolvesElsewhere` whether opening it leads somewhere other than its own place, or where it
// leads can't be read on a system that can tell.
EntryTreatment ClassifyEntry(DWORD attributes, DWORD reparseTag, bool tagKnown,
                             bool resolvesElsewhere);
