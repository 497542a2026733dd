#!/usr/bin/env bash
# deb_package_test.sh BUILD_DIR
#
# The Debian package of this build's programs (scripts/package --no-build --only deb):
# its files and fields, then installed into a throwaway root inside the build tree
# (dpkg -x), whose qxmodel must answer --version and whose man page must render.
# Nothing outside the build tree changes.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
build=$1
out=$build/deb-package-test
root=$out/root
fail() { qx_log "deb package test: $*"; exit 1; }
rm -rf "$out"
mkdir -p "$out"

deb=$("$QX_ROOT/scripts/package" --no-build --only deb --release-dir "$build" --out "$out" 2>"$out.log") ||
  { cat "$out.log" >&2; fail "scripts/package failed"; }
[ -f "$deb" ] || fail "no package: $deb"
version=$(sed -n 's/^project(QxModelSetting VERSION \([0-9.]*\).*/\1/p' "$QX_ROOT/CMakeLists.txt")
[ "$(dpkg-deb -f "$deb" Package)" = qxmodel ] || fail "package name $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), not $version"
grep -q 'libc6' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "no dependency on the C library: $(dpkg-deb -f "$deb" Depends)"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort | xargs)
expected="./usr/bin/qxmodel ./usr/bin/qxsim ./usr/share/doc/qxmodel/README.md ./usr/share/doc/qxmodel/copyright ./usr/share/man/man1/qxmodel.1.gz"
[ "$files" = "$expected" ] || fail "the package holds: $files"

dpkg -x "$deb" "$root"
got=$("$root/usr/bin/qxmodel" --version)
[ "$got" = "qxmodel $version" ] || fail "installed qxmodel says \"$got\""
"$root/usr/bin/qxsim" --help >/dev/null 2>&1 || fail "installed qxsim does not start"
if command -v man >/dev/null; then
  MANPAGER=cat man -l "$root/usr/share/man/man1/qxmodel.1.gz" 2>/dev/null | grep -q 'ports-from' || fail "the man page does not render"
fi
rm -rf "$out"
echo "deb package test: $deb installs and runs"
