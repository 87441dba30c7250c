#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# A private CUPS scheduler: its own configuration, spool, logs and programs,
# all under one directory, listening only on a domain socket in that
# directory and on a free loopback port. The system's own cupsd (if any) is
# never touched.
#
#   scripts/cupsd-private.sh start [--bin DIR | --installed] [--filter PATH]... [--backend PATH]...
#                                  [--dir DIR] [--watch PID] [--setenv NAME=VALUE]... [--model PPD]...
#       Starts the scheduler and prints its directory (ROOT) on standard output.
#       --bin DIR      take printfilter-rvt4410lw and the rvtsim backend from DIR
#                      (default: build/bin of this source tree)
#       --installed    run the driver as installed on this system: ServerBin is
#                      the system's own (cups-config --serverbin, nothing copied
#                      or linked), DataDir the system's (cups-config --datadir),
#                      so the filter, the backend and the PPD (by its model name)
#                      are the installed files; --bin, --filter and --backend
#                      are refused
#       --filter PATH, --backend PATH
#                      further filters or backends to install (copied, root-owned)
#       --dir DIR      use DIR (made, must not exist or be empty) instead of a new
#                      temporary directory
#       --watch PID    stop the scheduler by itself when process PID ends
#       --setenv NAME=VALUE   an environment variable for every filter and backend
#       --model PPD    offer PPD by model name (NAME/NAME.ppd for NAME.ppd), as an
#                      installed driver's: DataDir is then data/, the system's
#                      entries by link, with the PPD copied in under model/
#   scripts/cupsd-private.sh env ROOT     export lines for the clients (CUPS_SERVER...)
#   scripts/cupsd-private.sh stop ROOT [--keep]
#       Stops that scheduler (only the process it started) and removes ROOT
#       unless --keep is given.
#   scripts/cupsd-private.sh status ROOT  exit 0 when that scheduler is running
#
# Layout of ROOT: conf/ (ServerRoot: cupsd.conf, cups-files.conf, ppd/),
# bin/ (ServerBin: filter/, backend/, daemon/ ...; not with --installed), spool/ (RequestRoot),
# tmp/ (TempDir, where filters write their temporary files), state/, cache/,
# log/ (error_log, access_log, page_log), printcap, cupsd.sock, cupsd.pid,
# port.
#
# cupsd runs its filters as lp and refuses programs that are not owned by
# root or that others may write: so this must run as root (sudo otherwise).
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
PROG=cupsd-private

die() { echo "$PROG: $*" >&2; exit 1; }

usage() {
    sed -n '/^#   scripts/,/^# Layout/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}

# PID of the scheduler recorded in ROOT, empty when none.
recorded_pid() { cat "$1/cupsd.pid" 2>/dev/null || true; }

# True while PID is a live cupsd (a zombie, or a PID reused by another
# program, does not count).
is_our_cupsd() {
    local pid=$1 state comm
    [ -n "$pid" ] && [ -r "/proc/$pid/stat" ] || return 1
    comm=$(cat "/proc/$pid/comm" 2>/dev/null) || return 1
    [ "$comm" = cupsd ] || return 1
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || return 1
    [ "$state" != Z ]
}

# Start time of a process (clock ticks since boot), empty when it is gone.
start_time() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    # Fields after the command name, which is in parentheses and may hold blanks.
    stat=${stat##*) }
    echo "$stat" | awk '{print $20}'
}

# A free TCP port on 127.0.0.1 (nothing listens on it now).
free_port() {
    local port
    for _ in $(seq 1 50); do
        port=$((20000 + RANDOM % 20000))
        if ! ss -Htln "sport = :$port" 2>/dev/null | grep -q .; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

# Installs a program into a ServerBin directory the way cupsd demands:
# a regular file owned by root, not writable by group or others.
install_program() {
    local src=$1 dir=$2 mode=$3
    [ -f "$src" ] && [ -x "$src" ] || die "not an executable file: $src"
    install -o root -g root -m "$mode" "$src" "$dir/$(basename "$src")"
}

write_config() {
    local root=$1 port=$2 serverbin=$3 datadir=$4
    shift 4
    cat >"$root/conf/cupsd.conf" <<EOF
# Private scheduler for the driver's tests and sample job.
LogLevel debug
MaxLogSize 0
Listen $root/cupsd.sock
Listen 127.0.0.1:$port
ServerName localhost
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
# Seconds between SIGTERM and SIGKILL when a job is cancelled (300 by default).
JobKillDelay 5
MaxJobs 100
PreserveJobHistory Yes
PreserveJobFiles No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
DefaultPolicy default
EOF
    {
        echo "ServerRoot $root/conf"
        echo "ServerBin $serverbin"
        [ -z "$datadir" ] || echo "DataDir $datadir"
        echo "RequestRoot $root/spool"
        echo "TempDir $root/tmp"
        echo "StateDir $root/state"
        echo "CacheDir $root/cache"
        echo "ErrorLog $root/log/error_log"
        echo "AccessLog $root/log/access_log"
        echo "PageLog $root/log/page_log"
        echo "Printcap $root/printcap"
        echo "ServerKeychain $root/conf/ssl"
        echo "User lp"
        echo "Group lp"
        echo "SystemGroup root"
        echo "LogFileGroup root"
        echo "FileDevice No"
        local kv
        for kv in "$@"; do
            echo "SetEnv ${kv%%=*} ${kv#*=}"
        done
    } >"$root/conf/cups-files.conf"
}

# ServerBin: the standard programs by symbolic link, the project's copied in.
make_serverbin() {
    local bin=$1 sys=/usr/lib/cups d f
    shift
    mkdir -m 0755 "$bin"
    for d in filter backend daemon; do
        mkdir -m 0755 "$bin/$d"
    done
    for f in "$sys"/filter/*; do
        ln -s "$f" "$bin/filter/$(basename "$f")"
    done
    # CUPS's own network backend (socket://HOST:PORT), for the simulated
    # printer on the network.
    [ -e "$sys/backend/socket" ] && ln -s "$sys/backend/socket" "$bin/backend/socket"
    for f in cups-exec cups-deviced cups-driverd; do
        [ -e "$sys/daemon/$f" ] && ln -s "$sys/daemon/$f" "$bin/daemon/$f"
    done
    for d in monitor notifier driver cgi-bin; do
        [ -d "$sys/$d" ] && ln -s "$sys/$d" "$bin/$d"
    done
    local kind path
    while [ $# -gt 0 ]; do
        kind=$1 path=$2
        shift 2
        if [ "$kind" = filter ]; then
            install_program "$path" "$bin/filter" 0755
        else
            # 0700: cupsd runs a backend that others may not execute as root,
            # so that it can write where the queue tells it to.
            install_program "$path" "$bin/backend" 0700
        fi
    done
}

# DataDir: the system's entries by symbolic link, its model/ too, with the
# given PPDs copied in (NAME.ppd as model/NAME/NAME.ppd).
make_datadir() {
    local data=$1 sys f name
    shift
    sys=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)
    mkdir -m 0755 "$data" "$data/model"
    for f in "$sys"/*; do
        [ -e "$f" ] && [ "$(basename "$f")" != model ] && ln -s "$f" "$data/$(basename "$f")"
    done
    for f in "$sys"/model/*; do
        [ -e "$f" ] && ln -s "$f" "$data/model/$(basename "$f")"
    done
    for f in "$@"; do
        [ -f "$f" ] || die "not a file: $f"
        name=$(basename "$f" .ppd)
        # An installed driver's own directory is only linked: never write there.
        if [ -L "$data/model/$name" ]; then rm "$data/model/$name"; fi
        [ -d "$data/model/$name" ] || mkdir -m 0755 "$data/model/$name"
        install -o root -g root -m 0644 "$f" "$data/model/$name/$name.ppd"
    done
}

watchdog() {
    local watched=$1 root=$2 pid=$3
    while kill -0 "$watched" 2>/dev/null && is_our_cupsd "$pid"; do
        sleep 1
    done
    if is_our_cupsd "$pid" && [ "$(recorded_pid "$root")" = "$pid" ]; then
        echo "$PROG: process $watched ended; stopping the scheduler $pid" >&2
        "$0" stop "$root" >/dev/null 2>&1 || true
    fi
}

cmd_start() {
    local bin="$SRC_DIR/build/bin" bin_given="" root="" watch="" extra=() envs=() installed="" models=()
    while [ $# -gt 0 ]; do
        case $1 in
            --bin) bin=$2; bin_given=1; shift 2 ;;
            --installed) installed=1; shift ;;
            --filter) extra+=(filter "$2"); shift 2 ;;
            --backend) extra+=(backend "$2"); shift 2 ;;
            --dir) root=$2; shift 2 ;;
            --watch) watch=$2; shift 2 ;;
            --setenv) envs+=("$2"); shift 2 ;;
            --model) models+=("$2"); shift 2 ;;
            *) usage ;;
        esac
    done
    [ "$(id -u)" -eq 0 ] || die "must run as root (cupsd insists on root-owned filters and backends); use sudo"
    command -v cupsd >/dev/null || die "cupsd is missing; run scripts/install-deps.sh"
    [ -x /usr/lib/cups/daemon/cups-exec ] || die "/usr/lib/cups/daemon/cups-exec is missing (package cups-daemon)"

    local programs=() serverbin="" datadir=""
    if [ -n "$installed" ]; then
        [ -z "$bin_given" ] || die "--installed runs the system's programs: --bin cannot be given with it"
        [ "${#extra[@]}" -eq 0 ] || die "--installed runs the system's programs: --filter and --backend cannot be added"
        [ "${#models[@]}" -eq 0 ] || die "--installed offers the installed PPDs: --model cannot be added"
        serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
        datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)
        # The driver may be installed while the scheduler runs: CUPS looks
        # for filters, backends and PPDs on every request.
        [ -x "$serverbin/filter/printfilter-rvt4410lw" ] ||
            echo "$PROG: note: the driver is not installed (yet): no $serverbin/filter/printfilter-rvt4410lw" >&2
    else
        [ -x "$bin/printfilter-rvt4410lw" ] && programs+=(filter "$bin/printfilter-rvt4410lw")
        [ -x "$bin/rvtsim" ] && programs+=(backend "$bin/rvtsim")
        programs+=("${extra[@]}")
    fi

    if [ -z "$root" ]; then
        root=$(mktemp -d "${TMPDIR:-/tmp}/rvt-cupsd.XXXXXX")
    else
        mkdir -p "$root"
        [ -z "$(ls -A "$root")" ] || die "$root is not empty"
    fi
    root=$(cd "$root" && pwd)
    # The socket path must fit in sun_path (108 bytes).
    [ ${#root} -le 90 ] || die "directory name too long for a socket: $root"

    local started=""
    # On any failure before the scheduler answers: stop what was started and
    # remove the directory.
    trap 'if [ -z "$started" ]; then "$0" stop "$root" >/dev/null 2>&1 || rm -rf "$root"; fi' EXIT

    # The filters run as lp: every directory on their way must be searchable.
    chmod 0755 "$root"
    mkdir -m 0755 "$root/conf" "$root/conf/ppd" "$root/state" "$root/cache" "$root/log"
    mkdir -m 0700 "$root/conf/ssl"
    mkdir -m 0710 "$root/spool"
    chgrp lp "$root/spool"
    # gstoraster and the project's filter (running as lp) write their
    # temporary files here.
    mkdir -m 1770 "$root/tmp"
    chgrp lp "$root/tmp" "$root/cache" "$root/state"
    chmod 0775 "$root/cache"
    if [ -z "$installed" ]; then
        make_serverbin "$root/bin" "${programs[@]}"
        serverbin=$root/bin
    fi
    if [ "${#models[@]}" -gt 0 ]; then
        datadir=$root/data
        make_datadir "$datadir" "${models[@]}"
    fi

    local port
    port=$(free_port) || die "no free loopback port"
    echo "$port" >"$root/port"
    write_config "$root" "$port" "$serverbin" "$datadir" "${envs[@]}"

    cupsd -t -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" >"$root/log/config-test" 2>&1 ||
        die "cupsd refuses the configuration: $(cat "$root/log/config-test")"

    # Own session and process group, so that nothing of the caller's terminal
    # reaches it and nothing of it reaches the caller.
    setsid cupsd -f -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" \
        </dev/null >>"$root/log/cupsd.out" 2>&1 &
    local pid=$!
    echo "$pid" >"$root/cupsd.pid"

    local i
    for i in $(seq 1 100); do
        if ! kill -0 "$pid" 2>/dev/null || [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = Z ]; then
            die "cupsd ended at start-up: $(tail -n 20 "$root/log/error_log" "$root/log/cupsd.out" 2>/dev/null)"
        fi
        if [ -S "$root/cupsd.sock" ] && lpstat -h "$root/cupsd.sock" -r 2>/dev/null | grep -q 'is running'; then
            break
        fi
        sleep 0.1
    done
    lpstat -h "$root/cupsd.sock" -r 2>/dev/null | grep -q 'is running' ||
        die "cupsd does not answer on $root/cupsd.sock: $(tail -n 20 "$root/log/error_log" 2>/dev/null)"

    if [ -n "$watch" ]; then
        watchdog "$watch" "$root" "$pid" </dev/null >/dev/null 2>>"$root/log/watchdog" &
        echo $! >"$root/watchdog.pid"
    fi
    started=1
    trap - EXIT
    echo "$root"
}

cmd_env() {
    local root=${1:-}
    [ -n "$root" ] && [ -f "$root/cupsd.pid" ] || die "no private scheduler in '${root}'"
    echo "export CUPS_SERVER=$root/cupsd.sock"
    echo "export RVT_CUPSD_ROOT=$root"
    echo "export RVT_CUPSD_PORT=$(cat "$root/port")"
}

cmd_status() {
    local root=${1:-}
    [ -n "$root" ] || usage
    is_our_cupsd "$(recorded_pid "$root")"
}

cmd_stop() {
    local root=${1:-} keep=""
    [ -n "$root" ] || usage
    [ "${2:-}" = --keep ] && keep=1
    [ -d "$root" ] || return 0
    [ -f "$root/conf/cupsd.conf" ] || die "$root is not a private scheduler's directory"

    local wpid
    wpid=$(cat "$root/watchdog.pid" 2>/dev/null || true)
    if [ -n "$wpid" ] && [ "$wpid" != "$PPID" ] && [ "$wpid" != "$$" ]; then
        kill "$wpid" 2>/dev/null || true
    fi

    local pid children=()
    pid=$(recorded_pid "$root")
    if is_our_cupsd "$pid"; then
        # Jobs still running are cancelled first and given the kill delay to
        # end, so that cupsd itself collects its filters and backends.
        if [ -n "$(ps -o pid= --ppid "$pid" 2>/dev/null)" ]; then
            cancel -h "$root/cupsd.sock" -a >/dev/null 2>&1 || true
            local i
            for i in $(seq 1 70); do
                [ -n "$(ps -o pid= --ppid "$pid" 2>/dev/null)" ] || break
                sleep 0.1
            done
        fi
        # The filters and backends of running jobs: cupsd puts each in a
        # process group of its own. Noted with their start times, so that
        # only these very processes are killed if they outlive cupsd.
        local c
        for c in $(ps -o pid= --ppid "$pid" 2>/dev/null); do
            children+=("$c:$(start_time "$c")")
        done
        kill -TERM "$pid" 2>/dev/null || true
        local i
        for i in $(seq 1 150); do
            is_our_cupsd "$pid" || break
            sleep 0.1
        done
        if is_our_cupsd "$pid"; then
            echo "$PROG: cupsd $pid did not stop in 15 s; killing it" >&2
            kill -KILL "$pid" 2>/dev/null || true
            sleep 0.2
        fi
    fi
    local entry cpid
    for entry in "${children[@]}"; do
        cpid=${entry%%:*}
        if [ -n "${entry#*:}" ] && [ "$(start_time "$cpid")" = "${entry#*:}" ]; then
            echo "$PROG: killing $cpid, left running by cupsd $pid" >&2
            kill -KILL -- "-$cpid" 2>/dev/null || kill -KILL "$cpid" 2>/dev/null || true
        fi
    done
    rm -f "$root/cupsd.pid" "$root/watchdog.pid"
    [ -n "$keep" ] || rm -rf "$root"
}

case ${1:-} in
    start) shift; cmd_start "$@" ;;
    env) shift; cmd_env "$@" ;;
    stop) shift; cmd_stop "$@" ;;
    status) shift; cmd_status "$@" ;;
    *) usage ;;
esac
