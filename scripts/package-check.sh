#!/usr/bin/env bash
# Checks a built Debian package of ZYL the way a user meets it: lintian (no errors), then
# installs it with apt-get, runs the installed programs, validates the installed desktop
# entry and manual pages, removes it again and checks that nothing of it is left.
# Needs root (or sudo) for apt-get. Usage: scripts/package-check.sh build/package/zyl_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
fail() { echo "package check: $*" >&2; exit 1; }

echo "== lintian"
lintian --fail-on error --display-info "$deb"

echo "== install"
$SUDO apt-get install -y -qq "$deb" >/dev/null
files=$(dpkg -L zyl)
version=$(dpkg-query -W -f='${Version}' zyl)

echo "== run"
for program in zyl-batch zyl-console zyl; do
    [ "$(QT_QPA_PLATFORM=offscreen "$program" --version)" = "$program $version" ] ||
        fail "$program --version does not say $version"
done
# The installed example with the seed of the recorded outputs gives the recorded report.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && zyl-batch --seed 1 --quiet /usr/share/doc/zyl/examples/default.txt > default.out)
cmp "$work/default.out" tests/data/golden/default.out || fail "zyl-batch: the report differs"
[ "$(echo 'D(x^3, x)' | zyl-console)" = ">> 3*x^2" ] || fail "zyl-console: wrong answer"

echo "== installed files"
desktop-file-validate /usr/share/applications/zyl.desktop
for page in /usr/share/man/man1/zyl.1.gz /usr/share/man/man1/zyl-batch.1.gz \
            /usr/share/man/man1/zyl-console.1.gz /usr/share/man/man5/zyl-script.5.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done
[ "$(man -w 5 zyl-script)" = /usr/share/man/man5/zyl-script.5.gz ] || fail "man cannot find zyl-script(5)"
if command -v update-mime-database >/dev/null; then
    grep -q 'application/x-zyl-run-store:\*\.zyl' /usr/share/mime/globs2 ||
        fail "the run store's file type is not in the MIME database"
fi

echo "== remove"
$SUDO apt-get purge -y -qq zyl >/dev/null
if dpkg-query -W -f='${Status}' zyl 2>/dev/null | grep -q "ok installed"; then
    fail "zyl is still installed"
fi
while IFS= read -r path; do
    if [ -f "$path" ] || [ -L "$path" ]; then
        fail "$path is left after removal"
    fi
done <<< "$files"
if [ -f /usr/share/mime/globs2 ] && grep -q 'x-zyl-run-store' /usr/share/mime/globs2; then
    fail "the run store's file type is left in the MIME database"
fi
echo "package check: $(basename "$deb") passed"
