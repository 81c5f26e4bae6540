#!/usr/bin/env bash
# Builds the Debian package in a tree of its own (shared libgd, no tests or benchmarks),
# checks it with lintian, installs it with dpkg into a scratch root, draws the demo archive's
# event and drum with the installed program and its installed example INI files and with the
# build tree's program, compares the GIFs byte for byte, renders the installed manual page,
# and removes the package again. Exits 77 (a skip) where dpkg-deb or lintian is missing.
#
#   scripts/package-test.sh BUILD_DIR     BUILD_DIR holds the built trazplot and make_archive
#
# PACKAGE_BUILD names the package's build tree (default build-deb of this source tree).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package-test.sh BUILD_DIR}" && pwd)
package_build=${PACKAGE_BUILD:-$root/build-deb}

for tool in dpkg-deb lintian; do
    if ! command -v "$tool" >/dev/null; then
        echo "package-test.sh: $tool is not installed: skipped"
        exit 77
    fi
done

cmake -S "$root" -B "$package_build" -DCMAKE_BUILD_TYPE=Release -DTRAZPLOT_WERROR=ON \
    -DTRAZPLOT_STATIC_GD=OFF -DTRAZPLOT_TESTS=OFF -DTRAZPLOT_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$package_build" -j2 --target trazplot trazplot_install_files >/dev/null
rm -f "$package_build"/trazplot_*.deb
(cd "$package_build" && cpack -G DEB >/dev/null 2>&1) || (cd "$package_build" && cpack -G DEB)
deb=$(ls "$package_build"/trazplot_*.deb)
echo "package-test.sh: built $(basename "$deb")"
dpkg-deb --info "$deb" | sed -n 's/^ \(Depends\|Recommends\|Suggests\|Architecture\): /  \1: /p'

# Any error or warning fails the check; lintian's notes (I:) are shown for the record.
lintian --info --fail-on error,warning "$deb" 2>&1 | { grep -v "with root privileges" || true; }
echo "package-test.sh: lintian reports no error and no warning"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
target="$scratch/root"
admin="$target/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/status" "$admin/available"
# The scratch root has none of the packages the program depends on: the host has them.
dpkg --root="$target" --force-depends --force-not-root -i "$deb" >"$scratch/dpkg.log" 2>&1 || {
    cat "$scratch/dpkg.log"
    exit 1
}
program="$target/usr/bin/trazplot"
docs="$target/usr/share/doc/trazplot"
for file in "$program" "$target/usr/share/man/man1/trazplot.1.gz" "$docs/copyright" \
    "$docs/changelog.gz" "$docs/README.md" "$docs/description.md" \
    "$docs/description.schema.json" "$docs/examples/event.ini" "$docs/examples/drum.ini" \
    "$docs/examples/publish/drum.ini" "$target/usr/lib/systemd/system/trazplot-drum.service" \
    "$target/usr/lib/systemd/system/trazplot-drum.timer"; do
    [ -e "$file" ] || {
        echo "package-test.sh: ${file#"$target"} is not installed"
        exit 1
    }
done
grep -q '^ExecStart=/usr/bin/trazplot ' "$target/usr/lib/systemd/system/trazplot-drum.service" || {
    echo "package-test.sh: the installed service does not start /usr/bin/trazplot"
    exit 1
}

# The manual page renders without a warning.
warnings=$(MANWIDTH=80 man --warnings -l "$target/usr/share/man/man1/trazplot.1.gz" 2>&1 \
    >/dev/null)
if [ -n "$warnings" ]; then
    echo "$warnings"
    exit 1
fi

# The demo's archive, catalogued in SQLite, as scripts/demo.sh makes it.
demo="$scratch/demo"
mkdir -p "$demo/loop"
driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
printf '[SQLite3]\nDriver=%s\n' "$driver" >"$demo/odbcinst.ini"
printf '[DEMO]\nDriver=%s\nDatabase=%s\n' "$driver" "$demo/catalogue.db" >"$demo/odbc.ini"
export ODBCSYSINI="$demo" ODBCINI="$demo/odbc.ini"
"$build/make_archive" --dsn DEMO --data "$demo/loop" --schema "$root/db/schema.sql" \
    --stations 10 --start 1078221600 --span 1800 --segment 300 --sps 100 \
    --events 1 --seed 7 --defects >/dev/null

# The installed examples, pointed at the demo's loop, drawn by both programs.
for name in event drum; do
    sed "s|^DIR=.*|DIR=$demo/loop|" "$docs/examples/$name.ini" >"$demo/$name.ini"
done
for which in installed built; do
    out="$demo/$which"
    mkdir -p "$out"
    run=$([ "$which" = installed ] && echo "$program" || echo "$build/trazplot")
    (cd "$out" && "$run" EVENTID=LAST INI=../event.ini /SHOWEVENT /GAPS /NOPREVIEW &&
        "$run" "TBEG=09:59:00 02.03.2004" INI=../drum.ini /GAPS /NOPREVIEW)
done
for gif in EVENT.GIF DRUM.GIF; do
    [ -f "$demo/installed/$gif" ] || gif=${gif,,}
    cmp "$demo/installed/$gif" "$demo/built/$gif"
done
echo "package-test.sh: the installed program draws the demo as the build tree's does"

dpkg --root="$target" --force-not-root -r trazplot >/dev/null
left=$(find "$target" -path "$admin" -prune -o -type f -print)
if [ -n "$left" ]; then
    echo "package-test.sh: files left after removal:"
    echo "$left"
    exit 1
fi
echo "package-test.sh: installed, checked and removed"
