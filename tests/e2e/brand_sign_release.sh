#!/usr/bin/env bash
# A packager's release, made as README ("Making it yours", "Signing") says: datapack.exe (the
# Windows build, under Wine) brands SETUP_EXE with a test icon, link and maker fields (twice:
# the copies must be identical); checks/sign_test.sh signs the branded copy with a throwaway
# certificate, verifies it and runs the binary check. Then branding the signed file must be
# refused. The BrandedRelease cases (release_test.cpp, linklabel_test.cpp) run the result
# (WORK_DIR/signed/setup.exe).
# Then the branded copy is pinned to a package made with datapack.exe (WORK_DIR/pinned.001,
# its setup program FAKESETUP_EXE) and signed again (WORK_DIR/pinned-signed/setup.exe): the
# signed file must still say it is pinned to that package, and pinning it again is refused.
#
#   brand_sign_release.sh EMULATOR DATAPACK_EXE SETUP_EXE WORK_DIR PYTHON SOURCE_DIR
#                         FAKESETUP_EXE LINK COMPANY PRODUCT VERSION COPYRIGHT
#                         [CHECK_OPTIONS...]
set -euo pipefail
emulator=$1 datapack=$2 setup=$3 work=$4 python=$5 src=$6 fakesetup=$7
link=$8 company=$9 product=${10} version=${11} copyright=${12}
shift 12

fail() {
  echo "brand_sign_release: $*" >&2
  exit 1
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work"
"$python" "$src/tests/e2e/make_brand_icon.py" "$work/brand.ico"
rc=0
"$emulator" "$datapack" brand -i "$(winpath "$work/brand.ico")" -l "$link" \
  --company "$company" --product "$product" --product-version "$version" \
  --copyright "$copyright" -o "$(winpath "$work/branded.exe")" "$(winpath "$setup")" \
  >"$work/brand.out" 2>"$work/brand.err" || rc=$?
[ "$rc" -eq 0 ] || { cat "$work/brand.err" >&2; fail "datapack brand exited $rc"; }
# The same inputs, the same bytes; -o - writes them to standard output (binary mode).
"$emulator" "$datapack" brand -i "$(winpath "$work/brand.ico")" -l "$link" \
  --company "$company" --product "$product" --product-version "$version" \
  --copyright "$copyright" -o - "$(winpath "$setup")" \
  >"$work/again.exe" 2>"$work/again.err" || fail "datapack brand -o - failed: $(cat "$work/again.err")"
cmp -s "$work/branded.exe" "$work/again.exe" || fail "two brands of the same inputs differ"
grep -qF -- "-: branded copy of " "$work/again.err" || fail "brand -o - said: $(cat "$work/again.err")"
[ ! -e "$work/-" ] && [ ! -e ./- ] || fail "brand -o - wrote a file named -"
rm -f "$work/again.exe"
"$src/checks/sign_test.sh" "$work/branded.exe" "$work/signed" "$python" \
  "$src/checks/check_binary.py" "$@"

rc=0
"$emulator" "$datapack" brand -l "$link" -o "$(winpath "$work/again.exe")" \
  "$(winpath "$work/signed/setup.exe")" >/dev/null 2>"$work/again.err" || rc=$?
[ "$rc" -eq 2 ] || fail "branding the signed file exited $rc, not 2"
grep -qF "sign the branded copy" "$work/again.err" || fail "refusal: $(cat "$work/again.err")"
[ ! -e "$work/again.exe" ] || fail "a refused brand left an output file"

# The pinned release: the branded copy bound to one package, then signed.
data=$src/tests/e2e/data/datapack
"$emulator" "$datapack" create -q --epoch 0 -l "$(winpath "$data/Setup.lst")" \
  -s "$(winpath "$fakesetup")" -u "$(winpath "$data/uninst.exe")" -d "$(winpath "$data/files")" \
  --fix-sizes -o "$(winpath "$work/pinned.001")" >/dev/null || fail "datapack create failed"
"$emulator" "$datapack" brand --pin "$(winpath "$work/pinned.001")" \
  -o "$(winpath "$work/pinned.exe")" "$(winpath "$work/branded.exe")" >/dev/null \
  2>"$work/pin.err" || { cat "$work/pin.err" >&2; fail "datapack brand --pin failed"; }
"$src/checks/sign_test.sh" "$work/pinned.exe" "$work/pinned-signed" "$python" \
  "$src/checks/check_binary.py" "$@"
"$emulator" "$datapack" verify -q --against "$(winpath "$work/pinned-signed/setup.exe")" \
  "$(winpath "$work/pinned.001")" 2>"$work/against.err" ||
  fail "the signed copy is not pinned to its package: $(cat "$work/against.err")"
rc=0
"$emulator" "$datapack" brand --pin "$(winpath "$work/pinned.001")" \
  -o "$(winpath "$work/again.exe")" "$(winpath "$work/pinned-signed/setup.exe")" \
  >/dev/null 2>"$work/again.err" || rc=$?
[ "$rc" -eq 2 ] || fail "pinning the signed file exited $rc, not 2"
grep -qF "sign the branded copy" "$work/again.err" || fail "refusal: $(cat "$work/again.err")"
[ ! -e "$work/again.exe" ] || fail "a refused pin left an output file"
echo "brand_sign_release: branded, signed, verified; a signed file is refused; pinned and signed"
