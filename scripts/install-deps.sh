#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the demo, the benchmark and the
# Debian package (dpkg-shlibdeps, lintian, man) need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libgd-dev
    libmseed-dev mseed2sac
    nlohmann-json3-dev python3-jsonschema
    libpugixml-dev
    chromium systemd
    unixodbc unixodbc-dev libsqliteodbc
    postgresql odbc-postgresql
    googletest libgtest-dev libbenchmark-dev
    clang clang-format libclang-rt-14-dev
    xdg-utils faketime sqlite3 hyperfine time jq strace
    dpkg-dev lintian man-db groff-base
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
