#!/usr/bin/env bash
# Times whole runs of trazplot on large synthetic archives and prints one table:
#
#   1  24 stations x 6 h x 100 sps, datatype 2, ten-minute files, normal mode, SCALE=AUTO
#   2  case 1 with [WAVEFORMS] filter=1,10
#   1l case 1 on a catalogue of three million filelist rows (years of earlier segments)
#   1g case 1 with /GAPS /JSON (gap marks and the image's description)
#   2p case 2 with [WAVEFORMS] PREROLL=60 (filtered through the file boundaries)
#   3  one station, 24 h, segment mode NSEC=86400:1800 (48 rows from 10:00), filtered
#   3p case 3 with [WAVEFORMS] PREROLL=3600 (the drum filtered once, through its rows)
#   3c case 3 with [WAVEFORMS] COMMONSCALE=1 (every row prepared, then drawn on one scale)
#   4  case 1 with CSS export on (written to a folder in /dev/shm, emptied before every run)
#   5  case 1 with N#=ALL on a PostgreSQL catalogue (a private cluster, started and stopped here)
#   6  one station, 30 days, segment mode NSEC=2592000:86400 (30 rows of a day), filtered
#   7  200 stations x 6 h, N#=ALL on PostgreSQL, filtered
#   8  case 1 read from the archive's SDS copy (Steim-2 day files of 512-byte records)
#   9  case 3 read from the SDS copy of its archive (filter 1-10 Hz)
#
# For each case: median wall time of hyperfine's runs (warm page cache), throughput (samples
# read / median), peak RSS of one run (/usr/bin/time -v) against the bound
# 1.2 x (4 bytes x two of the largest rows' samples) + 32 MiB (a row is read while the one
# before it is drawn), and the md5 of the GIF (and of the CSS files) so that two builds can be
# compared.
#
#   bench/run.sh [BUILD_DIR]     default build-h of this source tree
#
# Environment:
#   BENCH_DIR   folder of the archives and runs (default BUILD_DIR/bench-data); the archives
#               are made once and reused when present
#   TRAZPLOT    the program to time (default BUILD_DIR/trazplot), e.g. an older build
#   RUNS        hyperfine runs per case (default 10)
#   CASES       the cases to run (default "1 1l 1g 2 2p 3 3p 3c 4 5 6 7 8 9")
#
# Needs hyperfine, /usr/bin/time, md5sum, jq, sqlite3, the SQLite and PostgreSQL ODBC drivers and
# PostgreSQL 15 (scripts/pg_cluster.sh). Run by hand; it is not part of CI.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-h}" && pwd)
bench_dir=${BENCH_DIR:-$build/bench-data}
program=${TRAZPLOT:-$build/trazplot}
generator=$build/make_archive
runs=${RUNS:-10}
cases=${CASES:-1 1l 1g 2 2p 3 3p 3c 4 5 6 7 8 9}

for tool in hyperfine jq md5sum sqlite3; do
    command -v "$tool" >/dev/null || {
        echo "run.sh: $tool is missing" >&2
        exit 1
    }
done
[ -x /usr/bin/time ] || {
    echo "run.sh: /usr/bin/time is missing (Debian package time)" >&2
    exit 1
}
for file in "$program" "$generator"; do
    [ -x "$file" ] || {
        echo "run.sh: $file is missing: build the targets trazplot and make_archive" >&2
        exit 1
    }
done
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

SQLITE_DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
PSQL_DRIVER=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so
START=1078221600 # 2004-03-02 10:00:00 UTC, the first sample of both archives
TBEG="TBEG=10:00:00 02.03.2004"
SPS=100
MULTI_STATIONS=24
MULTI_SPAN=21600
DAY_SPAN=86400
MONTH_SPAN=2592000
WIDE_STATIONS=200
# The generator's first 24 station codes.
MULTI_CODES=(ABEL BORA CEDA DUNK ELMO FARO GIRO HALE IMST JURA KOBE LIMA MORA NEVA ODER PALA
    QUAR RIGA SOLA TIRA UMEA VIGO WALD XANT)

mkdir -p "$bench_dir"
bench_dir=$(cd "$bench_dir" && pwd)
pg_state=$bench_dir/pg
css_dir=""

cleanup() {
    if [ -f "$pg_state/cluster" ]; then
        "$root/scripts/pg_cluster.sh" stop "$pg_state" || true
    fi
    if [ -n "$css_dir" ]; then
        rm -rf "$css_dir"
    fi
}
trap cleanup EXIT

write_odbc_ini() {
    local pg_port=${1:-0}
    cat >"$bench_dir/odbcinst.ini" <<INI
[SQLite3]
Driver=$SQLITE_DRIVER

[PostgreSQL]
Driver=$PSQL_DRIVER
INI
    cat >"$bench_dir/odbc.ini" <<INI
[BENCH_MULTI]
Driver=$SQLITE_DRIVER
Database=$bench_dir/multi.db

[BENCH_LONG]
Driver=$SQLITE_DRIVER
Database=$bench_dir/long.db

[BENCH_DAY]
Driver=$SQLITE_DRIVER
Database=$bench_dir/day.db

[BENCH_MONTH]
Driver=$SQLITE_DRIVER
Database=$bench_dir/month.db

[BENCH_MULTI_SDS]
Driver=$SQLITE_DRIVER
Database=$bench_dir/multisds.db

[BENCH_DAY_SDS]
Driver=$SQLITE_DRIVER
Database=$bench_dir/daysds.db

[BENCH_PG]
Driver=$PSQL_DRIVER
Servername=127.0.0.1
Port=$pg_port
Database=bench
SSLMode=disable

[BENCH_WIDE]
Driver=$PSQL_DRIVER
Servername=127.0.0.1
Port=$pg_port
Database=wide
SSLMode=disable
INI
}
write_odbc_ini
export ODBCSYSINI=$bench_dir ODBCINI=$bench_dir/odbc.ini

# The generator options of each archive; the PostgreSQL catalogue is filled with the same
# options as the multi-station one, so it catalogues the same (rewritten, identical) files.
multi_options=(--data "$bench_dir/multi" --stations "$MULTI_STATIONS" --channels BHZ
    --start "$START" --span "$MULTI_SPAN" --segment 600 --sps "$SPS" --datatype 2 --events 1)
day_options=(--data "$bench_dir/day" --stations 1 --channels BHZ --start "$START"
    --span "$DAY_SPAN" --segment 600 --sps "$SPS" --datatype 2 --events 1)

make_archive_once() {
    local name=$1 dsn=$2
    shift 2
    if [ -f "$bench_dir/$name.done" ]; then
        return
    fi
    echo "making the $name archive in $bench_dir/$name ..." >&2
    rm -rf "${bench_dir:?}/$name" "$bench_dir/$name.db"
    "$generator" --dsn "$dsn" --schema "$root/db/schema.sql" "$@" >"$bench_dir/$name.log"
    touch "$bench_dir/$name.done"
}
month_options=(--data "$bench_dir/month" --stations 1 --channels BHZ --start "$START"
    --span "$MONTH_SPAN" --segment 600 --sps "$SPS" --datatype 2 --events 1)
wide_options=(--data "$bench_dir/wide" --stations "$WIDE_STATIONS" --channels BHZ
    --start "$START" --span "$MULTI_SPAN" --segment 600 --sps "$SPS" --datatype 2 --events 1)
make_archive_once multi BENCH_MULTI "${multi_options[@]}"
make_archive_once day BENCH_DAY "${day_options[@]}"
# The long catalogue: the multi-station one and, before its first segment, 2 999 136 rows of
# earlier ten-minute segments (124 964 per station, 2.4 years), whose files are never read.
# Analysed once, as a catalogue in service would be (the station listing needs the statistics).
if [[ " $cases " == *" 1l "* && ! -f "$bench_dir/long.done" ]]; then
    echo "making the long catalogue $bench_dir/long.db ..." >&2
    cp "$bench_dir/multi.db" "$bench_dir/long.db"
    sqlite3 "$bench_dir/long.db" "with recursive n(i) as (select 1 union all select i+1 from n \
        where i < 124964) insert into filelist select s.sta, 'BHZ', $START - 600.0*n.i, 600.0, \
        $SPS, 'HIST/' || s.sta || n.i || '.BIN', 2, 64 from n cross join (select distinct sta \
        from filelist) as s; analyze;"
    touch "$bench_dir/long.done"
fi
if [[ " $cases " == *" 6 "* ]]; then
    make_archive_once month BENCH_MONTH "${month_options[@]}"
fi
# The SDS copies are made with archives of their own, so those made before stay as they are.
if [[ " $cases " == *" 8 "* ]]; then
    make_archive_once multisds BENCH_MULTI_SDS --data "$bench_dir/multisds" \
        "${multi_options[@]:2}" --sds "$bench_dir/multisds-sds"
fi
if [[ " $cases " == *" 9 "* ]]; then
    make_archive_once daysds BENCH_DAY_SDS --data "$bench_dir/daysds" "${day_options[@]:2}" \
        --sds "$bench_dir/daysds-sds"
fi

# Writes the run folder of a case with its wave.ini; the remaining arguments are extra lines
# for [WAVEFORMS], then "--" and whole extra sections.
write_case() {
    local number=$1 case_dir=$bench_dir/case$1 data=$2 dsn=$3 nsec=$4 count=$5
    shift 5
    mkdir -p "$case_dir"
    rm -f "$case_dir"/*.gif
    {
        printf '[DATA]\nDIR=%s\n\n' "$bench_dir/$data"
        printf '[DATABASE]\nODBC=%s\nUSER=KVR\nPASSWORD=MTZ\n\n' "$dsn"
        printf '[WAVEFORMS]\nNSEC=%s\nN#=%s\nSCALE=AUTO\nFILE=case%s.gif\n' "$nsec" "$count" "$number"
        while [ $# -gt 0 ] && [ "$1" != "--" ]; do
            printf '%s\n' "$1"
            shift
        done
        [ $# -gt 0 ] && shift
        printf '%s\n' "$@"
    } >"$case_dir/wave.ini"
}

station_sections() {
    local i
    for i in "${!MULTI_CODES[@]}"; do
        printf '\n[STA%d]\nSTA=%s\nCH=BHZ' "$i" "${MULTI_CODES[$i]}"
    done
}

multi_samples=$((MULTI_STATIONS * MULTI_SPAN * SPS))
multi_row=$((MULTI_SPAN * SPS))

# Per case: description, samples read, largest row's samples, extra arguments.
declare -A description samples row_samples arguments
description[1]="24 sta x 6 h, normal, AUTO"
description[1l]="case 1, 3 000 000 filelist rows"
description[1g]="case 1, /GAPS /JSON"
description[2]="case 1, filter=1,10"
description[2p]="case 2, PREROLL=60"
description[3]="1 sta x 24 h, NSEC=86400:1800, filtered"
description[3p]="case 3, PREROLL=3600"
description[3c]="case 3, COMMONSCALE=1"
description[4]="case 1, CSS export"
description[5]="case 1, N#=ALL on PostgreSQL"
description[6]="1 sta x 30 d, NSEC=2592000:86400, filtered"
description[7]="200 sta x 6 h, N#=ALL on PostgreSQL, filtered"
description[8]="case 1 from SDS"
description[9]="case 3 from SDS"
for c in 1 1l 1g 2 2p 4 5 8; do
    samples[$c]=$multi_samples
    row_samples[$c]=$multi_row
done
samples[3]=$((DAY_SPAN * SPS))
row_samples[3]=$((1800 * SPS))
samples[3p]=$((DAY_SPAN * SPS))
row_samples[3p]=$((1800 * SPS))
samples[3c]=$((DAY_SPAN * SPS))
row_samples[3c]=$((1800 * SPS))
samples[9]=$((DAY_SPAN * SPS))
row_samples[9]=$((1800 * SPS))
samples[6]=$((MONTH_SPAN * SPS))
row_samples[6]=$((DAY_SPAN * SPS))
samples[7]=$((WIDE_STATIONS * MULTI_SPAN * SPS))
row_samples[7]=$multi_row

write_case 1 multi BENCH_MULTI "$MULTI_SPAN" "$MULTI_STATIONS" -- "$(station_sections)"
write_case 1l multi BENCH_LONG "$MULTI_SPAN" "$MULTI_STATIONS" -- "$(station_sections)"
write_case 1g multi BENCH_MULTI "$MULTI_SPAN" "$MULTI_STATIONS" -- "$(station_sections)"
arguments[1g]="/GAPS /JSON"
write_case 2 multi BENCH_MULTI "$MULTI_SPAN" "$MULTI_STATIONS" "filter=1,10" -- \
    "$(station_sections)"
write_case 2p multi BENCH_MULTI "$MULTI_SPAN" "$MULTI_STATIONS" "filter=1,10" "PREROLL=60" -- \
    "$(station_sections)"
write_case 3 day BENCH_DAY "$DAY_SPAN:1800" 1 "filter=1,10" -- \
    "$(printf '\n[STA0]\nSTA=ABEL\nCH=BHZ')"
write_case 3p day BENCH_DAY "$DAY_SPAN:1800" 1 "filter=1,10" "PREROLL=3600" -- \
    "$(printf '\n[STA0]\nSTA=ABEL\nCH=BHZ')"
write_case 3c day BENCH_DAY "$DAY_SPAN:1800" 1 "filter=1,10" "COMMONSCALE=1" -- \
    "$(printf '\n[STA0]\nSTA=ABEL\nCH=BHZ')"
# A drum's start moves to the next row boundary: 09:59 to 10:00, where the archive begins, so
# that all 48 rows hold data.
declare -A tbeg
tbeg[3]="TBEG=09:59:00 02.03.2004"
tbeg[3p]=${tbeg[3]}
tbeg[3c]=${tbeg[3]}
css_dir=$(mktemp -d /dev/shm/trazplot-bench-css.XXXXXX)
write_case 4 multi BENCH_MULTI "$MULTI_SPAN" "$MULTI_STATIONS" -- "$(station_sections)" \
    "$(printf '\n[CSS30OUTPUT]\nFILE=%s/bench.wfd' "$css_dir")"
arguments[4]="css"
write_case 5 multi BENCH_PG "$MULTI_SPAN" ALL
write_case 6 month BENCH_MONTH "$MONTH_SPAN:$DAY_SPAN" 1 "filter=1,10" -- \
    "$(printf '\n[STA0]\nSTA=ABEL\nCH=BHZ')"
write_case 7 wide BENCH_WIDE "$MULTI_SPAN" ALL "filter=1,10"
# The SDS cases name the copy in [DATA]; the catalogue is not opened.
write_case 8 multisds BENCH_MULTI_SDS "$MULTI_SPAN" "$MULTI_STATIONS" -- "$(station_sections)"
write_case 9 daysds BENCH_DAY_SDS "$DAY_SPAN:1800" 1 "filter=1,10" -- \
    "$(printf '\n[STA0]\nSTA=ABEL\nCH=BHZ')"
sed -i "s|^\\[DATA\\]\$|[DATA]\\nSDS=$bench_dir/multisds-sds|" "$bench_dir/case8/wave.ini"
sed -i "s|^\\[DATA\\]\$|[DATA]\\nSDS=$bench_dir/daysds-sds|" "$bench_dir/case9/wave.ini"
tbeg[9]=${tbeg[3]}

# Runs psql on database $1 of the private cluster as the catalogue's role.
psql_bench() {
    local database=$1
    shift
    PGPASSWORD=MTZ PGOPTIONS="-c client_min_messages=warning" psql -X -q -h 127.0.0.1 \
        -p "$(cat "$pg_state/port")" -U KVR -d "$database" "$@" >/dev/null
}

if [[ " $cases " == *" 5 "* || " $cases " == *" 7 "* ]]; then
    echo "starting the PostgreSQL cluster and filling its catalogues ..." >&2
    "$root/scripts/pg_cluster.sh" start "$pg_state"
    write_odbc_ini "$(cat "$pg_state/port")"
    # A cluster left running by an interrupted run still holds the old catalogues.
    if [[ " $cases " == *" 5 "* ]]; then
        psql_bench postgres -c "drop database if exists bench" -c "create database bench"
        "$generator" --dsn BENCH_PG --user KVR --password MTZ --schema "$root/db/schema.sql" \
            "${multi_options[@]}" >"$bench_dir/pg.log"
        psql_bench bench -c "analyze filelist; analyze arrival; analyze origin"
    fi
    if [[ " $cases " == *" 7 "* ]]; then
        psql_bench postgres -c "drop database if exists wide" -c "create database wide"
        "$generator" --dsn BENCH_WIDE --user KVR --password MTZ --schema "$root/db/schema.sql" \
            "${wide_options[@]}" >"$bench_dir/wide.log"
        psql_bench wide -c "analyze filelist; analyze arrival; analyze origin"
    fi
fi

mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

printf '\ntrazplot: %s\n' "$program"
printf '%-4s %-40s %10s %10s %10s %10s %10s %-4s %s\n' case description samples "median s" \
    "Msamp/s" "RSS MiB" "bound MiB" ok "md5 (GIF / CSS or JSON)"
for c in $cases; do
    case_dir=$bench_dir/case$c
    command_line="$program \"${tbeg[$c]:-$TBEG}\" /NOPREVIEW ${arguments[$c]:-}"
    prepare="rm -f case$c.gif case$c.json"
    if [ "$c" = 4 ]; then
        prepare="$prepare; rm -rf $css_dir/*"
    fi
    (
        cd "$case_dir"
        hyperfine --style none --warmup 2 --runs "$runs" --prepare "$prepare" \
            --export-json "$case_dir/hyperfine.json" "$command_line" >"$case_dir/hyperfine.log" 2>&1
    ) || {
        echo "run.sh: case $c failed, see $case_dir/hyperfine.log" >&2
        exit 1
    }
    median=$(jq '.results[0].median' "$case_dir/hyperfine.json")

    # One more run, measured for its peak memory; its outputs are the ones fingerprinted.
    (
        cd "$case_dir"
        eval "$prepare"
        eval "/usr/bin/time -v -o $case_dir/time.log $command_line" >"$case_dir/run.log"
    )
    rss_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$case_dir/time.log")
    rss=$((rss_kib * 1024))
    bound=$(awk -v n="${row_samples[$c]}" 'BEGIN { printf "%d", 1.2 * 4 * 2 * n + 32 * 1048576 }')
    ok=yes
    [ "$rss" -le "$bound" ] || ok=NO
    throughput=$(awk -v n="${samples[$c]}" -v t="$median" 'BEGIN { printf "%.1f", n / t / 1e6 }')
    fingerprint=$(md5sum <"$case_dir/case$c.gif" | cut -c1-32)
    if [ -f "$case_dir/case$c.json" ]; then
        fingerprint="$fingerprint / $(md5sum <"$case_dir/case$c.json" | cut -c1-32) (JSON)"
    fi
    if [ "$c" = 4 ]; then
        css_md5=$(cd "$css_dir" && find . -type f | LC_ALL=C sort | xargs cat | md5sum | cut -c1-32)
        fingerprint="$fingerprint / $css_md5 ($(find "$css_dir" -name '*.w' | wc -l) .w)"
    fi
    printf '%-4s %-40s %10d %10.3f %10s %10s %10s %-4s %s\n' "$c" "${description[$c]}" \
        "${samples[$c]}" "$median" "$throughput" "$(mib "$rss")" "$(mib "$bound")" "$ok" \
        "$fingerprint"
done
