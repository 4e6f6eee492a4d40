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
# Windows names. Wine's ANSI code page follows the locale: C.UTF-8 gives Windows-1252.
export LC_ALL=C.UTF-8
list_of() {  # list_of NAME...: a list naming the support files NAME...
  printf '1=\r\n2=\r\n3=\r\n4=\r\n5=\r\n6=\r\n7=\r\n8=0\r\n9=0\r\n10=%s\r\n' "$#"
  local i=11 name
  for name in "$@"; do printf '%s=x,%s\r\n' "$i" "$name"; i=$((i + 1)); done
}
mkdir -p names
create_names=(create -l "$(winpath "$work/names/Setup.lst")" -s "$(winpath "$data/setup.exe")"
              -u "$(winpath "$data/uninst.exe")" -d "$(winpath "$work/names")" --fix-sizes)
# Superscript digits make port names too (code page 1252 bytes 0xB9, 0xB2, 0xB3).
list_of readme.txt $'COM\xb9' >names/Setup.lst
expect_rc 2 "${create_names[@]}" -o names.001
grep -qF 'line 12: file name "COM\xb9" is a Windows device name' err.txt ||
  { cat err.txt >&2; fail "COM with a superscript 1 was not refused"; }
# Two names of one file: refused by create, even with --force.
list_of readme.txt README.TXT. >names/Setup.lst
expect_rc 2 "${create_names[@]}" --force -o names.001
grep -qF 'line 12: "README.TXT." is the same file on Windows as "readme.txt" on line 11' err.txt ||
  { cat err.txt >&2; fail "two names of one file were not refused"; }
# A list in the ANSI code page names the file of that character; the same list saved as
# UTF-8 fails with the message datapack gives on Linux.
printf 'umlaut\r\n' >names/$'\xc3\xa4'rger.txt
list_of $'\xe4'rger.txt >names/Setup.lst
expect_rc 0 "${create_names[@]}" -o names.001
expect_rc 0 extract -C ansi names.001
cmp -s ansi/$'\xc3\xa4'rger.txt names/$'\xc3\xa4'rger.txt || fail "the ANSI name was not extracted"
expect_rc 0 list -J names.001
contains '"name": "\u00e4rger.txt", "name_bytes": "e4726765722e747874"'
list_of $'\xc3\xa4'rger.txt >names/Setup.lst
expect_rc 3 "${create_names[@]}" -o utf8.001
grep -qF '\xc3\xa4rger.txt: ' err.txt && grep -qF '(named on list line 11; list names are read in the ANSI code page, as setup.exe reads them (on Linux Windows-1252): a list saved as UTF-8 names other files)' err.txt ||
  { cat err.txt >&2; fail "a UTF-8 list was not refused with the rule"; }

# A package (built here: create refuses it) naming README.TXT and then readme.txt: extract
# writes what setup.exe leaves, one file with the later entry's bytes, and says so.
python3 - twice.001 <<'PY'
import struct, sys, zlib
def entry(data):
    payload = struct.pack('<IQQQ', 0x20, 0, 0, 0) + data
    stream = zlib.compress(payload)
    return struct.pack('<II', len(payload), len(stream)) + stream
files = [b'MZ setup', b'uninstaller', b'first entry', b'later entry']
total = sum(28 + len(f) for f in files)
lst = (b'1=\r\n2=\r\n3=\r\n4=\r\n5=\r\n6=\r\n7=\r\n8=%d\r\n9=0\r\n10=2\r\n'
       b'11=x,README.TXT\r\n12=x,readme.txt\r\n' % total)
with open(sys.argv[1], 'wb') as out:
    out.write(b'ZK\x00\x02' + b''.join(entry(d) for d in [lst] + files))
PY
expect_rc 0 verify twice.001
grep -qF 'list line 12: "readme.txt" is the same file on Windows as "README.TXT" on line 11: setup.exe unpacks this entry over the file of line 11, and its clean-up deletes that name twice' err.txt ||
  { cat err.txt >&2; fail "verify did not warn about two names of one file"; }
expect_rc 0 extract -C twice twice.001
[ "$(ls twice | grep -ci '^readme.txt$')" = 1 ] || fail "extract left $(ls twice)"
[ "$(cat twice/README.TXT)" = "later entry" ] || fail "the later entry did not win"
grep -qF 'README.TXT: replaced by "readme.txt", entry 5: one file on this system, as it is to setup.exe' err.txt ||
  { cat err.txt >&2; fail "extract did not say that the later entry replaced the earlier"; }
echo "datapack_exe_test: create, verify, list and extract under Wine passed"
