#!/usr/bin/env bash
# package_test.sh BUILD_DIR
#
# Packs the programs this build made (scripts/package --no-build --only windows), checks the zip's
# contents, installs with the NSIS installer silently into the Wine prefix, runs the
# installed qxmodel.exe, and uninstalls again.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
build=$1
out=$build/package-test
fail() { qx_log "package test: $*"; exit 1; }

"$QX_ROOT/scripts/package" --no-build --only windows --build-dir "$build" --out "$out" >"$out.log" 2>&1 || { cat "$out.log" >&2; fail "scripts/package failed"; }
version=$(sed -n 's/^version=//p' "$build/package-files.txt")
zip=$out/QX-K40VII_Setting-$version.zip
setup=$out/QX-K40VII_Setting-$version-setup.exe
[ -f "$zip" ] || fail "no $zip"
[ -f "$setup" ] || fail "no $setup"

listing=$(unzip -Z1 "$zip" | sort)
expected="LICENSE README.md qxmodel.exe"
gui=$(sed -n 's/^gui=//p' "$build/package-files.txt")
[ -n "$gui" ] && [ -f "$gui" ] && expected="$expected $(basename "$gui")"
[ "$(echo $listing)" = "$(tr ' ' '\n' <<<"$expected" | sort | xargs)" ] || fail "zip holds: $(echo $listing); expected: $expected"
grep -q "MIT License" <(unzip -p "$zip" LICENSE) || fail "the licence is not MIT"

# Install into a folder of the test's own, run the installed program, uninstall.
target='C:\qx-package-test'
dir=$WINEPREFIX/drive_c/qx-package-test
rm -rf "$dir"
timeout 120 "$WINE64" "Z:${setup//\//\\}" /S "/D=$target" </dev/null >/dev/null 2>&1 || fail "the installer failed"
for f in qxmodel.exe README.md LICENSE uninstall.exe; do [ -f "$dir/$f" ] || fail "$f not installed"; done
got=$(timeout 60 "$WINE64" "$target\\qxmodel.exe" --version </dev/null 2>/dev/null | tr -d '\r')
[ "$got" = "qxmodel $version" ] || fail "installed qxmodel.exe says \"$got\""
timeout 120 "$WINE64" "$target\\uninstall.exe" /S "_?=$target" </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
[ ! -f "$dir/qxmodel.exe" ] || fail "qxmodel.exe left after uninstalling"
rm -rf "$dir"
echo "package test: $zip and $setup are good"
