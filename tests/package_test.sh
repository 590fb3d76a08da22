#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs what was installed,
# renders the manual pages (no warnings, every option --help lists is in
# its page), and builds the Debian package to check its contents and
# dependencies. Usage: tests/package_test.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/p" >/dev/null
for b in cap2flv capmux flvverify; do
  [ -x "$tmp/p/bin/$b" ] || fail "$b not installed in bin"
  page=$tmp/p/share/man/man1/$b.1
  [ -f "$page" ] || fail "$b.1 not installed in share/man/man1"
  "$tmp/p/bin/$b" --version | grep -qE "^$b [0-9]+\.[0-9]+\.[0-9]+$" || fail "$b --version"
  warnings=$(groff -man -ww -z -Tascii "$page" 2>&1)
  [ -z "$warnings" ] || fail "$b.1 renders with warnings: $warnings"
  text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
  grep -q '@VERSION@' <<<"$text" && fail "$b.1 has no version"
  for option in $("$tmp/p/bin/$b" --help | grep -oE -- '(^|[ [])--?[a-z][a-z-]*' | tr -d ' ['); do
    grep -qF -- "$option" <<<"$text" || fail "$b.1 does not mention $option"
  done
done

# The installed programs do the job.
"$tmp/p/bin/capmux" --size 64x48 --seconds 1 | "$tmp/p/bin/cap2flv" -q --compact > "$tmp/out.flv"
"$tmp/p/bin/flvverify" < "$tmp/out.flv" | grep -q '^ok: ' || fail "installed cap2flv wrote a bad stream"

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null) || fail "cpack"
deb=$(ls "$tmp"/pkg/*.deb)
contents=$(dpkg-deb --contents "$deb")
for f in usr/bin/cap2flv usr/bin/capmux usr/bin/flvverify \
  usr/share/man/man1/cap2flv.1 usr/share/man/man1/capmux.1 usr/share/man/man1/flvverify.1; do
  grep -q "\./$f" <<<"$contents" || fail "package lacks $f"
done
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libc6 libstdc++6 zlib1g libdeflate0 libmp3lame0; do
  grep -q "$lib" <<<"$depends" || fail "package does not depend on $lib: $depends"
done
echo "installed, pages render, package $(basename "$deb") depends on: $depends"
