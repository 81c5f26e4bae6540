#!/usr/bin/env bash
# Starts or stops a private PostgreSQL 15 cluster for the tests.
#
#   pg_cluster.sh start DIR   creates a cluster in a fresh folder under /tmp, listening only on
#                             127.0.0.1 on a free port, with the role "KVR" (password MTZ) that
#                             the catalogue tests log in as; writes the port to DIR/port and the
#                             cluster folder to DIR/cluster
#   pg_cluster.sh stop DIR    stops that cluster and removes its folder
#
# Both are idempotent: start leaves a running cluster alone, stop without a cluster does
# nothing. Every build folder gets its own cluster, so two builds can test at the same time.
# Run as root, the cluster belongs to the postgres user, since initdb refuses to run as root.
set -euo pipefail

PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
ROLE=KVR
PASSWORD=MTZ

usage() {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}

[ $# -eq 2 ] || usage
action=$1
state_dir=$2

# The postgres user may not be allowed into the caller's folder.
cd /tmp

# Runs a command as the owner of the cluster.
as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

# Prints the cluster folder recorded in DIR, or nothing.
recorded_cluster() {
    if [ -f "$state_dir/cluster" ]; then
        cat "$state_dir/cluster"
    fi
}

# Stops the recorded cluster, if any, and removes its folder and the records.
stop_cluster() {
    local cluster
    cluster=$(recorded_cluster)
    if [ -n "$cluster" ] && [ -d "$cluster" ]; then
        if [ -f "$cluster/data/postmaster.pid" ]; then
            as_owner "$PG_BIN/pg_ctl" -D "$cluster/data" -m fast -w stop >/dev/null 2>&1 || true
        fi
        case "$cluster" in
            /tmp/trazplot-pg-*) rm -rf "$cluster" ;;
        esac
    fi
    rm -f "$state_dir/cluster" "$state_dir/port"
}

# True when the recorded cluster is up and answers on its recorded port.
cluster_running() {
    local cluster port
    cluster=$(recorded_cluster)
    [ -n "$cluster" ] && [ -f "$state_dir/port" ] || return 1
    port=$(cat "$state_dir/port")
    [ -d "$cluster/data" ] || return 1
    as_owner "$PG_BIN/pg_ctl" -D "$cluster/data" status >/dev/null 2>&1 || return 1
    "$PG_BIN/pg_isready" -q -h 127.0.0.1 -p "$port" >/dev/null 2>&1
}

# Prints a port in 20000..32767 (below the kernel's ephemeral range) that nothing listens on.
pick_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 12768))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return
        fi
    done
}

start_cluster() {
    if cluster_running; then
        return 0
    fi
    # A cluster left over from an interrupted run is cleared away first.
    stop_cluster
    mkdir -p "$state_dir"

    local cluster
    cluster=$(mktemp -d /tmp/trazplot-pg-XXXXXX)
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres:postgres "$cluster"
    fi
    chmod 700 "$cluster"
    # Record the folder at once, so that stop can clean up after a failed start.
    echo "$cluster" >"$state_dir/cluster"

    # Without a locale, "order by" compares bytes, as SQLite does.
    if ! as_owner "$PG_BIN/initdb" -D "$cluster/data" --no-locale -E UTF8 -U postgres \
        --auth-local=trust --auth-host=scram-sha-256 >"$cluster/initdb.log" 2>&1; then
        cat "$cluster/initdb.log" >&2
        stop_cluster
        return 1
    fi
    as_owner sh -c "cat >'$cluster/data/pg_hba.conf'" <<EOF
local all all trust
host all all 127.0.0.1/32 scram-sha-256
EOF
    # A test cluster needs no crash safety; skipping the flushes keeps the tests quick.
    as_owner sh -c "cat >>'$cluster/data/postgresql.conf'" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$cluster'
password_encryption = 'scram-sha-256'
fsync = off
synchronous_commit = off
full_page_writes = off
EOF

    # Another process may take the chosen port between the check and the start: try again.
    local attempt port started=0
    for attempt in 1 2 3 4 5 6 7 8 9 10; do
        port=$(pick_port)
        if as_owner "$PG_BIN/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 \
            -o "-p $port" start >/dev/null 2>&1; then
            started=1
            break
        fi
        if ! grep -q -e 'could not bind' -e 'could not create any TCP/IP sockets' \
            "$cluster/server.log" 2>/dev/null; then
            break
        fi
        as_owner "$PG_BIN/pg_ctl" -D "$cluster/data" -m immediate stop >/dev/null 2>&1 || true
        : >"$cluster/server.log"
    done
    if [ "$started" -ne 1 ]; then
        echo "pg_cluster.sh: the server did not start (attempt $attempt):" >&2
        cat "$cluster/server.log" >&2 || true
        stop_cluster
        return 1
    fi
    echo "$port" >"$state_dir/port"

    if ! as_owner "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$cluster" -p "$port" -U postgres \
        -d postgres -c "create role \"$ROLE\" login createdb password '$PASSWORD'" \
        >/dev/null; then
        echo "pg_cluster.sh: cannot create the role $ROLE" >&2
        stop_cluster
        return 1
    fi
}

case "$action" in
    start) start_cluster ;;
    stop) stop_cluster ;;
    *) usage ;;
esac
