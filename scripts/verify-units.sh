#!/usr/bin/env bash
# Checks the systemd units of docs/publish with systemd-analyze verify. The service's template
# names the installed program (its folder is filled in from the install prefix when CMake
# configures); here it names the built one, which must exist for the check.
# Exits 77 (a skip for CTest) where systemd-analyze is not installed.
#
#   scripts/verify-units.sh BUILT_TRAZPLOT
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:?usage: verify-units.sh BUILT_TRAZPLOT}

if ! command -v systemd-analyze >/dev/null; then
    echo "verify-units.sh: systemd-analyze is not installed: skipped"
    exit 77
fi
units=$(mktemp -d)
trap 'rm -rf "$units"' EXIT
sed "s|@CMAKE_INSTALL_FULL_BINDIR@/trazplot|$program|" "$root/docs/publish/trazplot-drum.service.in" \
    >"$units/trazplot-drum.service"
cp "$root/docs/publish/trazplot-drum.timer" "$units/"
# Any complaint about the units fails the check, not only an error status.
output=$(cd "$units" && SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no \
    ./trazplot-drum.service ./trazplot-drum.timer 2>&1) || {
    echo "$output"
    exit 1
}
if [ -n "$output" ]; then
    echo "$output"
    exit 1
fi
echo "verify-units.sh: both units verified"
