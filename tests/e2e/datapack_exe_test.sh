#!/usr/bin/env bash
# datapack.exe under Wine: create a package from tests/e2e/data/datapack, verify, list and
# extract it, and check what a broken copy makes verify say.
#   datapack_exe_test.sh EMULATOR DATAPACK_EXE DATA_DIR WORK_DIR
set -euo pipefail
emulator=$1 exe=$2 data=$3 work=$4

fail() {
  echo "datapack_exe_test: $*" >&2
  exit 1
}
# Windows path of a Unix path (Wine maps / to Z:).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# Runs datapack.exe; its standard output (CR LF ended, as the Windows runtime writes it)
# lands in out.txt with the CRs removed; prints nothing; returns its exit status.
dp() {
  local rc=0
  "$emulator" "$exe" "$@" >out.raw 2>err.txt || rc=$?
  tr -d '\r' <out.raw >out.txt
  return "$rc"
}
expect_rc() {
  local want=$1 rc=0
  shift
  dp "$@" || rc=$?
  [ "$rc" -eq "$want" ] || { cat err.txt >&2; fail "datapack $* exited $rc, not $want"; }
}
contains() { grep -qF -- "$1" out.txt || { cat out.txt >&2; fail "output lacks: $1"; }; }

rm -rf "$work"
mkdir -p "$work"
cd "$work"

create=(create -l "$(winpath "$data/Setup.lst")" -s "$(winpath "$data/setup.exe")"
        -u "$(winpath "$data/uninst.exe")" -d "$(winpath "$data/files")" --fix-sizes)
expect_rc 0 "${create[@]}" -o _Data.001 --epoch 1700000000
grep -qF "lines 8 and 9 set to 20249 and 0" err.txt || fail "no note about the rewritten sizes"
SOURCE_DATE_EPOCH=1700000000 expect_rc 0 "${create[@]}" -o again.001
cmp -s _Data.001 again.001 || fail "two packages of the same inputs differ"
expect_rc 1 "${create[@]}" -o _Data.001
grep -qF "already exists" err.txt || fail "an existing output was not refused"
mkdir -p folder
expect_rc 1 "${create[@]}" -o folder --force
grep -qF "folder: is a folder, not a regular file" err.txt || fail "a folder output was not refused"
# A device name opens the device in every folder, whatever its extension: refused, not written.
expect_rc 1 "${create[@]}" -o 'folder\NUL.001' --force
grep -qF "is a device, not a regular file" err.txt || fail "a device name in a folder was not refused"

# "-" as standard output and input: the same bytes (binary mode, no CR LF translation), from a
# redirected file and from a pipe (copied to a temporary file first).
"$emulator" "$exe" "${create[@]}" -q --epoch 1700000000 -o - >piped.001 2>err.txt ||
  fail "create -o - failed: $(cat err.txt)"
cmp -s _Data.001 piped.001 || fail "create -o - wrote other bytes than create -o FILE"
expect_rc 0 verify - <_Data.001
contains "-: good: kind 2 (Setup), 5 entries"
cat _Data.001 | expect_rc 0 extract -q -C piped -
cmp -s piped/table.dat "$data/files/table.dat" || fail "extract - from a pipe differs"

expect_rc 0 verify _Data.001
contains "_Data.001: good: kind 2 (Setup), 5 entries, payload total 20249 bytes, the progress bar ends at 100 %"

expect_rc 0 list _Data.001
contains "entry 2 at offset"
contains "setup program Setup1.exe"
contains "uninstaller KQUninst.exe"
contains "support file table.dat"
contains "created   2023-11-14T22:13:20Z"
contains "the bar ends at 100 %"
expect_rc 0 list --json _Data.001
contains '"final_percent": 100'
contains '"trailing_bytes": 0'

expect_rc 0 extract -C x _Data.001
for pair in Setup1.exe:setup.exe KQUninst.exe:uninst.exe readme.txt:files/readme.txt \
            table.dat:files/table.dat; do
  cmp -s "x/${pair%%:*}" "$data/${pair#*:}" || fail "extracted ${pair%%:*} differs from its source"
done
grep -q "^Size1=20249"$'\r'"$" x/Setup.lst || fail "the packed list does not carry the fixed size"
expect_rc 1 extract -C x _Data.001
expect_rc 0 extract --force -C x _Data.001

# A package cut inside its last entry: the bootstrapper's message on standard output.
size=$(stat -c %s _Data.001)
head -c $((size - 3)) _Data.001 >cut.001
expect_rc 2 verify cut.001
[ "$(cat out.txt)" = "Setup program cannot continue because file _Data.001 is corrupted." ] ||
  fail "verify printed: $(cat out.txt)"
grep -qF "entry 5 (support file table.dat)" err.txt || fail "the reason does not name entry 5"
# Extracting it over earlier copies with --force leaves them as they were.
echo "earlier copy" >x/table.dat
expect_rc 2 extract --force -C x cut.001
[ "$(cat x/table.dat)" = "earlier copy" ] || fail "a broken package replaced an earlier copy"
[ -z "$(ls -A x | grep -F .tmp || true)" ] || fail "temporary files left in x"
echo "datapack_exe_test: create, verify, list and extract under Wine passed"
