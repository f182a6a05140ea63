#!/usr/bin/env bash
# Runs the directory-removal test program (the arguments) under Wine with what it cannot make
# from inside Wine: a Unix symbolic link inside a tree that points to a folder outside it
# (Wine lists it as a reparse point, as Windows lists a junction), and a drive R: whose root is
# a scratch folder, for the cases that would otherwise name the root of a real drive.
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
printf keep >"$work/drive-root/folder/kept.txt"
ln -s "$work/drive-root" "$drive"

"$(dirname "$0")/../../scripts/wine-run" "$@"
rc=$?
clean
exit $rc
