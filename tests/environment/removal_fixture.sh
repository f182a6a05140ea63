#!/usr/bin/env bash
# Runs the directory-removal test program (the arguments) under Wine with what it cannot make
# from inside Wine: Unix symbolic links inside a tree that point to a folder and a file outside
# it (Wine lists the first as a reparse point, as Windows lists a junction, and the second as a
# plain file), one in place of a download's part, one more to a file deeper than 1,024
# characters, and a drive R: whose root is a scratch folder, for the cases that would otherwise name the root of a real drive.
set -u
work="$WINEPREFIX/drive_c/removal-fixture"
drive="$WINEPREFIX/dosdevices/r:"

clean() {
  rm -f "$drive"
  [ -d "$work" ] && chmod -R u+w "$work"
  rm -rf "$work"
}

clean
mkdir -p "$work/outside/inner" "$work/tree/B" "$work/drive-root/folder"
printf keep >"$work/outside/kept.txt"
printf keep >"$work/outside/inner/kept.txt"
ln -s "$work/outside" "$work/tree/B/link"
# A link to a file, which Wine lists as a plain file.
ln -s "$work/outside/kept.txt" "$work/tree/B/file-link"
# One whose target's final path is longer than 1,024 characters.
deep="$work/outside/$(printf 'd%.0s' {1..250})/$(printf 'e%.0s' {1..250})"
deep="$deep/$(printf 'f%.0s' {1..250})/$(printf 'g%.0s' {1..250})"
mkdir -p "$deep"
printf keep >"$deep/kept.txt"
ln -s "$deep/kept.txt" "$work/tree/B/deep-file-link"
# A download part that is a link to a user's file.
printf "user's own" >"$work/outside/user.dat"
ln -s "$work/outside/user.dat" "$work/Setup.exe.part"
printf keep >"$work/drive-root/folder/kept.txt"
ln -s "$work/drive-root" "$drive"

"$(dirname "$0")/../../scripts/wine-run" "$@"
rc=$?
if [ ! -f "$deep/kept.txt" ]; then
  echo "the removal deleted $deep/kept.txt through a link" >&2
  rc=1
fi
clean
exit $rc
