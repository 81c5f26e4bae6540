#!/usr/bin/env bash
# Builds trazplot, makes a demo archive (a SQLite catalogue reached through the SQLite ODBC
# driver, and segment files) with the archive generator, and draws it three ways:
#   demo/event.gif  every station that picked the latest event, filtered, with its picks, its
#                   missing data marked, and described in demo/event.json
#   demo/index.html the web page of demo/event.gif and demo/drum.gif
#   demo/event-nofill.gif  the same event without the samples no file holds ([WAVEFORMS] FILL=0)
#   demo/drum.gif   one station as a drum recorder (segment mode)
#   demo/css/       the same event exported as CSS 3.0 (wfdisc + .w files)
#   demo/event.mseed  the same event's samples as miniSEED, and demo/EVENT.PNG its picture as PNG
#   demo/sds-event.gif, demo/sds-drum.gif  the event and GIRO's drum drawn from the archive's SDS
#                   copy (demo/sds: miniSEED day files, stations.xml, events.xml)
# The pictures open in the desktop's GIF viewer where a desktop exists; set NOPREVIEW=1 to
# never open them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j2 --target trazplot make_archive

demo="$root/demo"
rm -rf "$demo"
mkdir -p "$demo/loop" "$demo/css"

# The catalogue's data source, declared in the demo folder only.
cat > "$demo/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC Driver
Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
INI
cat > "$demo/odbc.ini" <<INI
[DEMO]
Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
Database=$demo/catalogue.db
INI
export ODBCSYSINI="$demo" ODBCINI="$demo/odbc.ini"

# Ten stations around one event, 30 minutes of 100-sample-per-second data; four of them lose
# data in their file of 10:15 (a gap, a missing file, a file cut short) or overlap there.
build/make_archive --dsn DEMO --data "$demo/loop" --schema db/schema.sql \
    --stations 10 --start 1078221600 --span 1800 --segment 300 --sps 100 \
    --events 1 --seed 7 --defects --sds "$demo/sds"

# The run's INI file: where the data lie, which catalogue, how to draw.
cat > "$demo/wave.ini" <<INI
[DATA]
DIR=$demo/loop

[DATABASE]
ODBC=DEMO
USER=KVR
PASSWORD=MTZ

[WAVEFORMS]
NSEC=900
N#=ALL
filter=1,10
PHASES=P,S
COLORBG=255,255,255
COLORWF=0,0,128
COLORTXT=200,0,0
FILE=event.gif

[CSS30OUTPUT]
FILE=.\\css\\event.wfd

[MSEEDOUTPUT]
FILE=.\\event.mseed
NET=XX
RECLEN=4096
INI
# The head of an INI file that draws one station of the loop: NSEC and FILE as given.
one_station_ini() {
    cat <<INI
[DATA]
DIR=$demo/loop

[DATABASE]
ODBC=DEMO

[WAVEFORMS]
NSEC=$1
N#=1
COLORTXT=200,0,0
FILE=$2
INI
}

{
    one_station_ini 1800:300 drum.gif
    cat <<INI
ROWTIMES=1
COMMONSCALE=1

[STA0]
STA=GIRO
CH=BHZ
filter=0.5,8
INI
} > "$demo/drum.ini"

# One filtered minute of GIRO across the file boundary at 10:10: filtered file by file as
# specified, and with a minute of pre-roll filtered through the boundary.
for mode in off on; do
    {
        one_station_ini 60 "preroll-$mode.gif"
        cat <<INI
filter=0.05,2
PREROLL=$([ "$mode" = on ] && echo 60 || echo 0)

[STA0]
STA=GIRO
CH=BHZ
INI
    } > "$demo/preroll-$mode.ini"
done

# The same event without the samples that no file holds: DUNK's missing file and the end of
# ELMO's short one are left blank instead of drawn as zeros.
sed -e 's/^FILE=event.gif$/FILE=event-nofill.gif/' -e 's/^filter=1,10$/filter=1,10\nFILL=0/' \
    "$demo/wave.ini" > "$demo/nofill.ini"

# The same event and drum from the SDS copy: day files, StationXML and QuakeML instead of the
# catalogue and its segment files.
sds_head() {
    cat <<INI
[DATA]
SDS=$demo/sds

[EVENTS]
QUAKEML=$demo/sds/events.xml

[STATIONS]
STATIONXML=$demo/sds/stations.xml

INI
}
{
    sds_head
    sed -n '/^\[WAVEFORMS\]$/,/^FILE=/p' "$demo/wave.ini" | sed 's/^FILE=event.gif$/FILE=sds-event.gif/'
} > "$demo/sds-event.ini"
{
    sds_head
    sed -n '/^\[WAVEFORMS\]$/,$p' "$demo/drum.ini" | sed 's/^FILE=drum.gif$/FILE=sds-drum.gif/'
} > "$demo/sds-drum.ini"

preview=""
if [ -n "${NOPREVIEW:-}" ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
    preview="/NOPREVIEW"
fi

cd "$demo"
"$root/build/trazplot" EVENTID=LAST /SHOWEVENT /GAPS /HTML $preview
"$root/build/trazplot" "TBEG=09:59:00 02.03.2004" INI=.\\drum.ini /GAPS /HTML $preview
"$root/build/trazplot" EVENTID=LAST INI=.\\nofill.ini /SHOWEVENT /GAPS /NOPREVIEW
"$root/build/trazplot" EVENTID=LAST css FILE=css.gif /NOPREVIEW
# Arguments are upper-cased, so the PNG is EVENT.PNG; the miniSEED name comes from wave.ini.
"$root/build/trazplot" EVENTID=LAST mseed FILE=event.png /NOPREVIEW
"$root/build/trazplot" "TBEG=10:09:30 02.03.2004" INI=.\\preroll-off.ini SIZE=700x120 /NOPREVIEW
"$root/build/trazplot" "TBEG=10:09:30 02.03.2004" INI=.\\preroll-on.ini SIZE=700x120 /NOPREVIEW
"$root/build/trazplot" EVENTID=LAST INI=.\\sds-event.ini /SHOWEVENT /GAPS /NOPREVIEW
"$root/build/trazplot" "TBEG=09:59:00 02.03.2004" INI=.\\sds-drum.ini /GAPS /NOPREVIEW
cp preroll-off.gif "$root/docs/demo-preroll-off.gif"
cp preroll-on.gif "$root/docs/demo-preroll-on.gif"
# The web page of the two pictures, as a browser shows it.
if command -v chromium > /dev/null; then
    profile=$(mktemp -d)
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" --force-device-scale-factor=1 --hide-scrollbars \
        --log-level=3 --window-size=760,1280 --screenshot="$root/docs/demo-page.png" \
        "file://$demo/index.html" > /dev/null 2>&1 || true
    rm -rf "$profile"
fi
cp event.gif "$root/docs/demo-event.gif"
cp event-nofill.gif "$root/docs/demo-event-nofill.gif"
cp drum.gif "$root/docs/demo-drum.gif"
cp EVENT.PNG "$root/docs/demo-event.png"
cp sds-event.gif "$root/docs/demo-sds-event.gif"
cp sds-drum.gif "$root/docs/demo-sds-drum.gif"

echo "demo: $demo/event.gif (latest event), $demo/drum.gif (drum recorder of GIRO),"
echo "      $demo/css/event.wfd with $(ls "$demo/css" | grep -c '\.w$') sample files,"
echo "      $demo/event.mseed (miniSEED) and $demo/EVENT.PNG,"
echo "      $demo/sds-event.gif and $demo/sds-drum.gif (from the SDS copy in $demo/sds)"
