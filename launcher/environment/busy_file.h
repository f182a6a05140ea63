// A file another program holds for a moment: a virus scanner or an indexer opens every new or
// renamed executable, and until it lets go, renaming, opening or starting that file is refused.
// Those refusals are waited out a few times before they count as failures.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Attempts in all, and the pause after each failed one (about 3 s in all).
inline constexpr int kBusyFileAttempts = 5;
inline constexpr DWORD kBusyFilePausesMs[kBusyFileAttempts - 1] = {250, 500, 1000, 1500};

// Whether `error` is what a file held by another program answers: a sharing or lock violation,
// or access denied (a file still open for deletion, or being scanned, answers that too).
bool IsBusyFileError(DWORD error);

// Runs `attempt` (0 on success, otherwise the Windows error) until it succeeds, fails for
// another reason, or the attempts are spent; returns its last answer. Each busy answer that is
// tried again is logged as "<what> error, code: N, again in M ms".
DWORD RetryWhileBusy(const wchar_t* what, const std::function<DWORD()>& attempt);

// Puts `from` in the place of `to` (replacing it), waiting out a busy file; 0 or the error.
DWORD ReplaceFileWhenFree(const std::wstring& from, const std::wstring& to);
