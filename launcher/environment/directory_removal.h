// Emptying the application directory before an installer runs, and removing a folder tree.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Removes every file and folder below `directory`, depth first, as far as possible. The
// directory of the first call in the process is kept; any other directory passed in is removed
// once emptied. Links inside the tree are removed as links and never followed, so nothing
// outside the tree is touched. An empty path (or a lone backslash) is refused.
void DeleteDirectoryTree(const std::wstring& directory);

// Empties `directory` in the same way and then removes it, whatever directory the first call
// above protects; read-only files and folders go too (this removes what the launcher itself
// set aside, or what a failed installer left). A link in the directory's own place is left
// alone. True when it is gone afterwards (or was never there).
bool RemoveDirectoryTree(const std::wstring& directory);

// Removes everything in `directory` but the entries named in `keep` (case aside), in the same
// link-safe way, read-only ones too; logs "removed from download folder: NAME" for each.
void ClearFolderExcept(const std::wstring& directory, const std::vector<std::wstring>& keep);

// Whether `path` leads somewhere other than its own place: its final path is not its folder's
// followed by its name, or cannot be read on a system that can tell (Vista and later). Wine
// shows a Unix link as a plain entry; only this gives it away.
bool ResolvesElsewhere(const std::wstring& path);

// What stands at a file's name before the launcher writes a file there.
enum class NameAtFile {
    Plain,       // nothing, or a plain file of its own: write
    RemoveLink,  // a symbolic link, junction or hard link: the name itself goes, never the data
    Refuse,      // a folder, or something that leads elsewhere without saying so (Wine shows a
                 // Unix link as a plain file, and deletes or moves its target instead of it)
};

// `attributes` as GetFileAttributesW gives them, `links` the file's hard-link count,
// `resolvesElsewhere` as ResolvesElsewhere says.
NameAtFile ClassifyNameAtFile(DWORD attributes, DWORD links, bool resolvesElsewhere);

// Makes the file name `path` safe to write: a link standing there is removed as a link, so that
// a file written there is one of its own and never writes through to the link's target. Logs
// what it did; false when something stays that must not be written through.
bool ClearLinkAt(const std::wstring& path);

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
