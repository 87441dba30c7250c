#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# The Debian packages, checked the way a user gets them: builds them (cmake +
# cpack -G DEB: printer-driver-rvt4410lw, the driver,
# printer-driver-rvt4410lw-sim, the simulated printer's backend, and
# rvt4410lw-printer-app, the printer application), checks what each holds,
# how its programs are built and what lintian says, checks that a staged
# `cmake --install` with another prefix puts the same files where they
# belong, then installs the driver alone with dpkg -i and checks that the
# scheduler offers it (`lpinfo -m`, by name and device ID), adds the
# simulator's package, prints samples/sample.pdf through the INSTALLED
# filter onto the installed rvtsim backend (a private CUPS scheduler whose
# ServerBin and DataDir are the system's own, the queue added by the PPD's
# model name), removes both packages with dpkg -r. Then it installs the
# printer application's package alone (its postinst makes the service's
# user and spool and enables the service; systemd need not run), runs the
# installed program once as that user on a private directory and loopback
# port (server, a printer added, printers, shutdown), purges the package
# and checks that nothing of any package is left (the system user stays,
# as Debian's packages leave theirs).
#
# Usage: scripts/package-test.sh
# Environment:
#   BUILD_DIR  the build directory (default: build-pkg; configured every time
#              as a release build without tests, sanitizers or fuzzers, with
#              the hardening flags, whatever its cache held before)
#   JOBS       build jobs (default 2)
#   TIMEOUT    seconds the print job may take (default 120)
#
# It never replaces a user's files: it refuses to run (exit 1) when any of
# the packages is installed, or when any file of them, or the printer
# application's spool or state directory, is on disk already (installed by
# another package or by `cmake --install`). Whatever happens, the scheduler
# and the printer application are stopped and the packages removed again.
# Not root: dpkg, the scheduler and the printer application run under sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-pkg}
JOBS=${JOBS:-2}
TIMEOUT=${TIMEOUT:-120}
PKG=printer-driver-rvt4410lw
SIM_PKG=$PKG-sim
APP_PKG=rvt4410lw-printer-app
APP_USER=_rvt4410lw
APP_UNIT=rvt4410lw-printer-app.service
APP_DIRS=(/var/spool/rvt4410lw-printer-app /var/lib/rvt4410lw-printer-app)
# What deb-systemd-helper makes when it enables the unit and masks it.
APP_UNIT_LINKS=("/etc/systemd/system/multi-user.target.wants/$APP_UNIT" "/etc/systemd/system/$APP_UNIT")
MODEL=rvt4410lw/rvt4410lw.ppd
DEVICE_ID="MFG:RVT;MDL:RV-T4410LW;CMD:RVTJOB,JBIG;"
OTHER_DEVICE_ID="MFG:Other;MDL:Some Printer;CMD:PCL;"
QUEUE=rvt4410lw-pkg
EXPECTED_PAGES=3

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

. scripts/lib/job-wait.sh

say() { echo "package-test: $*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

for c in cmake cpack dpkg dpkg-deb dpkg-query lintian readelf cupsd lpinfo lpadmin lp lpstat setpriv ss; do
    command -v "$c" >/dev/null || fail "$c is missing; run scripts/install-deps.sh"
done
SERVERBIN=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
DATADIR=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/rvt-pkg.XXXXXX")
ROOT=""
INSTALLED=""
APP_INSTALLED=""
APP_PID=""
APP_DIR=""
cleanup() {
    local rc=$?
    if [ -n "$ROOT" ]; then
        $SUDO scripts/cupsd-private.sh stop "$ROOT" || true
        ROOT=""
    fi
    if [ -n "$APP_PID" ]; then
        $SUDO kill "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
        APP_PID=""
    fi
    if [ -n "$APP_DIR" ]; then
        $SUDO rm -rf "$APP_DIR"
        APP_DIR=""
    fi
    if [ -n "$INSTALLED" ]; then
        say "removing the packages after a failure"
        $SUDO dpkg --purge "$SIM_PKG" "$PKG" >/dev/null ||
            echo "package-test: could not remove the packages: run dpkg --purge $SIM_PKG $PKG" >&2
        INSTALLED=""
    fi
    if [ -n "$APP_INSTALLED" ]; then
        say "removing $APP_PKG after a failure"
        $SUDO dpkg --purge "$APP_PKG" >/dev/null ||
            echo "package-test: could not remove $APP_PKG: run dpkg --purge $APP_PKG" >&2
        APP_INSTALLED=""
    fi
    rm -rf "$WORK"
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ------------------------------------------------------------------ build
say "building the packages in $BUILD_DIR"
rm -f "$BUILD_DIR"/${PKG}_*.deb "$BUILD_DIR"/${SIM_PKG}_*.deb "$BUILD_DIR"/${APP_PKG}_*.deb
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DRVT_BUILD_TESTS=OFF -DRVT_BUILD_BENCH=OFF \
      -DRVT_SANITIZE=OFF -DRVT_FUZZ=OFF -DRVT_HARDEN=ON >"$WORK/configure.log" ||
    { cat "$WORK/configure.log" >&2; fail "configure"; }
cmake --build "$BUILD_DIR" -j"$JOBS"
(cd "$BUILD_DIR" && cpack -G DEB) >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log" >&2; fail "cpack -G DEB"; }
# the_deb NAME: the one NAME_*.deb that cpack made, as an absolute path.
the_deb() {
    local debs=("$BUILD_DIR"/"$1"_*.deb)
    [ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one $1_*.deb in $BUILD_DIR: ${debs[*]}"
    echo "$(cd "$(dirname "${debs[0]}")" && pwd)/$(basename "${debs[0]}")"
}
DEB=$(the_deb "$PKG")
SIM_DEB=$(the_deb "$SIM_PKG")
APP_DEB=$(the_deb "$APP_PKG")
declare -A DEBS=(["$PKG"]=$DEB ["$SIM_PKG"]=$SIM_DEB ["$APP_PKG"]=$APP_DEB)
START=$SECONDS
say "built $DEB"
say "built $SIM_DEB"
say "built $APP_DEB"

# ------------------------------------------------------- what they hold
# Every file a user needs, each in its package, and nothing else (no
# developer programs, tests, static libraries or headers): package, kind,
# mode and path, the path an anchored regular expression. "prefix" paths are
# under the install prefix; "abs" paths are where CUPS and udev look,
# whatever the prefix; "deb" files are the package's own and only in the
# package.
EXPECTED=(
    "$PKG prefix -rwxr-xr-x bin/Tervane"
    "$PKG prefix -rwxr-xr-x bin/tervane-cli"
    "$PKG prefix -rw-r--r-- share/applications/tervane\.desktop"
    "$PKG prefix -rw-r--r-- share/icons/hicolor/scalable/apps/tervane\.svg"
    "$PKG prefix -rw-r--r-- share/man/man1/tervane-cli\.1\.gz"
    "$PKG prefix -rw-r--r-- share/man/man1/Tervane\.1\.gz"
    "$PKG prefix -rw-r--r-- share/man/man8/printfilter-rvt4410lw\.8\.gz"
    "$PKG prefix -rw-r--r-- share/metainfo/io\.github\.rvt4410lw_driver\.printer_driver\.metainfo\.xml"
    "$PKG prefix -rw-r--r-- share/metainfo/io\.github\.rvt4410lw_driver\.tervane\.metainfo\.xml"
    "$PKG abs -rwxr-xr-x ${SERVERBIN#/}/filter/printfilter-rvt4410lw"
    "$PKG abs -rw-r--r-- ${DATADIR#/}/model/rvt4410lw/rvt4410lw\.ppd"
    "$PKG abs -rw-r--r-- (usr/)?lib/udev/rules\.d/[0-9][0-9]-rvt4410lw\.rules"
    "$PKG deb -rw-r--r-- share/doc/$PKG/copyright"
    "$PKG deb -rw-r--r-- share/doc/$PKG/changelog\.gz"
    "$PKG deb -rw-r--r-- share/lintian/overrides/$PKG"
    "$SIM_PKG abs -rwx------ ${SERVERBIN#/}/backend/rvtsim"
    "$SIM_PKG deb -rw-r--r-- share/doc/$SIM_PKG/copyright"
    "$SIM_PKG deb -rw-r--r-- share/doc/$SIM_PKG/changelog\.gz"
    "$SIM_PKG deb -rw-r--r-- share/lintian/overrides/$SIM_PKG"
    "$APP_PKG prefix -rwxr-xr-x sbin/rvt4410lw-printer-app"
    "$APP_PKG prefix -rw-r--r-- share/man/man8/rvt4410lw-printer-app\.8\.gz"
    "$APP_PKG prefix -rw-r--r-- share/rvt4410lw-printer-app/testpage\.pdf"
    "$APP_PKG prefix -rw-r--r-- share/metainfo/io\.github\.rvt4410lw_driver\.printer_app\.metainfo\.xml"
    "$APP_PKG abs -rw-r--r-- (usr/)?lib/systemd/system/$APP_UNIT"
    "$APP_PKG abs -rw-r--r-- (usr/)?lib/udev/rules\.d/[0-9][0-9]-rvt4410lw-printer-app\.rules"
    "$APP_PKG deb -rw-r--r-- share/doc/$APP_PKG/copyright"
    "$APP_PKG deb -rw-r--r-- share/doc/$APP_PKG/changelog\.gz"
    "$APP_PKG deb -rw-r--r-- share/lintian/overrides/$APP_PKG"
)

# check_tree TREE PREFIX PACKAGE: the files (and links) under TREE are
# exactly the expected ones of PACKAGE, each with its mode; PACKAGE "source"
# is what `cmake --install` installs: every package's files but their own.
check_tree() {
    local tree=$1 prefix=${2#/} which=$3 entry pkg kind mode rx path got n errors=0
    local -a files patterns modes
    local -A hits=()
    for entry in "${EXPECTED[@]}"; do
        read -r pkg kind mode rx <<<"$entry"
        if [ "$which" = source ]; then
            [ "$kind" != deb ] || continue
        else
            [ "$pkg" = "$which" ] || continue
        fi
        [ "$kind" = abs ] || rx="$prefix/$rx"
        patterns+=("$rx")
        modes+=("$mode")
    done
    mapfile -t files < <(cd "$tree" && find . \( -type f -o -type l \) -printf '%P\n' | sort)
    for path in "${files[@]}"; do
        n=0
        for i in "${!patterns[@]}"; do
            if [[ $path =~ ^${patterns[$i]}$ ]]; then
                n=$((n + 1))
                hits[$i]=$(( ${hits[$i]:-0} + 1 ))
                got=$(stat -c %A "$tree/$path")
                if [ "$got" != "${modes[$i]}" ]; then
                    echo "  $path: mode $got, expected ${modes[$i]}" >&2
                    errors=$((errors + 1))
                fi
            fi
        done
        if [ "$n" -ne 1 ]; then
            echo "  unexpected file: $path" >&2
            errors=$((errors + 1))
        fi
    done
    for i in "${!patterns[@]}"; do
        if [ "${hits[$i]:-0}" -ne 1 ]; then
            echo "  expected once, found ${hits[$i]:-0} times: ${patterns[$i]}" >&2
            errors=$((errors + 1))
        fi
    done
    return $((errors > 0))
}

# check_programs TREE: every ELF file under TREE is stripped (no symbol
# table, no .comment section) and built with the hardening flags: a
# position-independent executable (type DYN), read-only relocations
# (a GNU_RELRO segment), every symbol bound at start (BIND_NOW), the
# fortified variants of the C library's functions (each program calls at
# least snprintf through __snprintf_chk) and the stack protector.
check_programs() {
    local tree=$1 f name errors=0
    while IFS= read -r f; do
        [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ] || continue
        name=${f#"$tree"}
        local -a problems=()
        readelf -SW "$f" | grep '\.symtab\|\.comment' >/dev/null && problems+=("not stripped")
        readelf -hW "$f" | grep '^ *Type: *DYN ' >/dev/null || problems+=("not position-independent (type $(readelf -hW "$f" | sed -n 's/^ *Type: *//p'))")
        readelf -lW "$f" | grep '^ *GNU_RELRO ' >/dev/null || problems+=("no GNU_RELRO segment")
        readelf -dW "$f" | grep '(FLAGS) .*BIND_NOW\|(FLAGS_1) .*Flags:.* NOW' >/dev/null || problems+=("not BIND_NOW")
        local syms
        syms=$(readelf --dyn-syms -W "$f")
        grep -E ' __[a-z0-9_]+_chk(@|$)' <<<"$syms" >/dev/null || problems+=("no fortified function (__*_chk)")
        grep ' __stack_chk_fail\(@\|$\)' <<<"$syms" >/dev/null || problems+=("no stack protector (__stack_chk_fail)")
        if [ "${#problems[@]}" -gt 0 ]; then
            echo "  $name: $(IFS=';'; echo "${problems[*]}" | sed 's/;/, /g')" >&2
            errors=$((errors + 1))
        fi
    done < <(find "$tree" -type f -perm /111)
    return $((errors > 0))
}

# The control fields of each package: name, place in the archive,
# maintainer, the libraries found by dpkg-shlibdeps and the packages it
# works with; the simulator's package goes with this very driver version;
# the printer application needs neither the driver nor CUPS, but the
# libraries, Ghostscript for PDF and adduser for its user.
CONTROL_CHECKS=(
    "$PKG Package ^$PKG\$"
    "$PKG Version ^[0-9]+\.[0-9]+\.[0-9]+\$"
    "$PKG Section ^text\$"
    "$PKG Priority ^optional\$"
    "$PKG Architecture ^[a-z0-9]+\$"
    "$PKG Maintainer ^[^<>]+ <[^<>@ ]+@[^<>@ ]+\.[a-z]+>\$"
    "$PKG Depends (^|, )libcups2( |,|\$)"
    "$PKG Depends (^|, )libjbig0( |,|\$)"
    "$PKG Depends (^|, )libusb-1\.0-0( |,|\$)"
    "$PKG Depends (^|, )libqt6widgets6( |,|\$)"
    "$PKG Depends (^|, )qt6-qpa-plugins( |,|\$)"
    "$PKG Recommends (^|, )cups-daemon( |,|\$)"
    "$PKG Recommends (^|, )cups-filters( |,|\$)"
    "$PKG Recommends (^|, )ghostscript( |,|\$)"
    "$SIM_PKG Package ^$SIM_PKG\$"
    "$SIM_PKG Source ^$PKG\$"
    "$SIM_PKG Section ^text\$"
    "$SIM_PKG Priority ^optional\$"
    "$SIM_PKG Maintainer ^[^<>]+ <[^<>@ ]+@[^<>@ ]+\.[a-z]+>\$"
    "$SIM_PKG Depends (^|, )$PKG \(= VERSION\)(,|\$)"
    "$SIM_PKG Depends (^|, )libcups2( |,|\$)"
    "$SIM_PKG Depends (^|, )libjbig0( |,|\$)"
    "$SIM_PKG Depends (^|, )libpng16-16( |,|\$)"
    "$SIM_PKG Recommends (^|, )cups-daemon( |,|\$)"
    "$APP_PKG Package ^$APP_PKG\$"
    "$APP_PKG Source ^$PKG\$"
    "$APP_PKG Section ^net\$"
    "$APP_PKG Priority ^optional\$"
    "$APP_PKG Architecture ^[a-z0-9]+\$"
    "$APP_PKG Maintainer ^[^<>]+ <[^<>@ ]+@[^<>@ ]+\.[a-z]+>\$"
    "$APP_PKG Depends (^|, )libpappl1( |,|\$)"
    "$APP_PKG Depends (^|, )libcups2( |,|\$)"
    "$APP_PKG Depends (^|, )libjbig0( |,|\$)"
    "$APP_PKG Depends (^|, )ghostscript( |,|\$)"
    "$APP_PKG Depends (^|, )adduser( |,|\$)"
    "$APP_PKG Depends ^((libpappl|libcups|libjbig|libc6|libstdc|libgcc|ghostscript|adduser)[^,]*(, |\$))+\$"
)

version=$(dpkg-deb -f "$DEB" Version)
errors=0
for pkg in "$PKG" "$SIM_PKG" "$APP_PKG"; do
    deb=${DEBS[$pkg]}
    say "checking what $(basename "$deb") holds"
    tree=$WORK/deb/$pkg
    mkdir -p "$tree"
    dpkg-deb -x "$deb" "$tree"
    check_tree "$tree" /usr "$pkg" || fail "$pkg does not hold exactly the expected files"
    bad_owner=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
    [ -z "$bad_owner" ] || fail "files of $pkg not owned by root: $bad_owner"
    # Compressed files as Debian wants them: gzip -9, no name, no time stamp.
    while IFS= read -r gz; do
        header=$(od -An -tx1 -N9 "$gz" | tr -d ' \n')
        [ "$header" = 1f8b08000000000002 ] || fail "${gz#"$tree"} is not compressed with gzip -9n (header $header)"
    done < <(find "$tree" -type f -name '*.gz')
    check_programs "$tree" || fail "programs of $pkg are not stripped or not hardened"
    for check in "${CONTROL_CHECKS[@]}"; do
        read -r cpkg field rx <<<"$check"
        [ "$cpkg" = "$pkg" ] || continue
        rx=${rx//VERSION/${version//./\\.}}
        value=$(dpkg-deb -f "$deb" "$field")
        if ! [[ $value =~ $rx ]]; then
            echo "  $pkg: control field $field is '$value', which does not match $rx" >&2
            errors=$((errors + 1))
        fi
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$pkg is not version $version"
    newest=$(zcat "$tree/usr/share/doc/$pkg/changelog.gz" | sed -n 1p)
    [[ $newest == "$PKG ($version) "* ]] ||
        fail "the changelog's newest entry in $pkg is not for version $version"
    # The licence, in Debian's machine-readable copyright format.
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
        "$tree/usr/share/doc/$pkg/copyright" &&
        grep -qx 'License: GPL-2.0-or-later' "$tree/usr/share/doc/$pkg/copyright" ||
        fail "$pkg's copyright file does not give the GPL-2.0-or-later licence in the DEP-5 format"
done
# Every program says the package's version.
for prog in "$PKG/usr/bin/Tervane" "$PKG/usr/bin/tervane-cli" \
    "$PKG/${SERVERBIN#/}/filter/printfilter-rvt4410lw" "$APP_PKG/usr/sbin/rvt4410lw-printer-app"; do
    said=$("$WORK/deb/$prog" --version) || fail "${prog#*/} --version failed"
    [ "${said##* }" = "$version" ] || fail "${prog#*/} --version says '$said', not version $version"
done
# The service runs the program from where the package puts it.
grep -x "ExecStart=/usr/sbin/rvt4410lw-printer-app server .*" \
    "$(find "$WORK/deb/$APP_PKG" -name "$APP_UNIT")" >/dev/null ||
    fail "$APP_UNIT does not run /usr/sbin/rvt4410lw-printer-app"
grep -qx "\*FileVersion: \"$version\"" "$WORK/deb/$PKG/${DATADIR#/}/model/rvt4410lw/rvt4410lw.ppd" ||
    fail "the PPD's *FileVersion is not $version"
[ "$errors" -eq 0 ] || fail "control fields"

# ---------------------------------------------------------------- lintian
say "lintian"
lint_rc=0
lintian --fail-on error --display-info "$DEB" "$SIM_DEB" "$APP_DEB" >"$WORK/lintian.txt" 2>&1 || lint_rc=$?
grep -v '^running with root privileges' "$WORK/lintian.txt" | sed 's/^/  /' || true
[ "$lint_rc" -eq 0 ] || fail "lintian reports errors (status $lint_rc)"

# ---------------------------------------------- staged install, other prefix
say "staged install with --prefix /opt/rvt4410lw"
DESTDIR="$WORK/stage" cmake --install "$BUILD_DIR" --prefix /opt/rvt4410lw >"$WORK/install.log" ||
    { cat "$WORK/install.log" >&2; fail "cmake --install"; }
check_tree "$WORK/stage" /opt/rvt4410lw source || fail "the staged install does not hold exactly the expected files"
grep -x "ExecStart=/opt/rvt4410lw/sbin/rvt4410lw-printer-app server .*" \
    "$(find "$WORK/stage" -name "$APP_UNIT")" >/dev/null ||
    fail "the staged $APP_UNIT does not run /opt/rvt4410lw/sbin/rvt4410lw-printer-app"

# ------------------------------------------------- never replace a user's files
for pkg in "$PKG" "$SIM_PKG" "$APP_PKG"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
    if [ -n "$status" ] && [ "$status" != not-installed ]; then
        fail "$pkg is already on this system (status: $status); remove it first (dpkg --purge $pkg) - this test installs and removes it"
    fi
done
mapfile -t PKG_FILES < <(cd "$WORK/deb" && find . -mindepth 2 \( -type f -o -type l \) -printf '/%P\n' | cut -d/ -f3- | sed 's|^|/|' | sort)
for f in "${PKG_FILES[@]}"; do
    owner=$(dpkg-query -S "$f" 2>/dev/null | cut -d: -f1 || true)
    [ -z "$owner" ] || fail "$f belongs to the package $owner already; this test would replace it"
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is on disk already (an install from source? see README, Uninstalling); this test would replace it"
done
# The printer application's purge removes its spool and state directories
# and its unit's links: none may be someone else's.
for f in "${APP_DIRS[@]}" "${APP_UNIT_LINKS[@]}"; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is on disk already; this test's purge of $APP_PKG would remove it"
done
# The directories the packages bring that are not on disk yet: these, and
# only these, must be gone again after the removal.
NEW_DIRS=()
while IFS= read -r d; do
    [ -e "$d" ] || NEW_DIRS+=("$d")
done < <(cd "$WORK/deb" && find . -mindepth 2 -type d -printf '/%P\n' | cut -d/ -f3- | grep . | sed 's|^|/|' | sort -u)

# ----------------------------------------- install, and print through it
ROOT=$($SUDO scripts/cupsd-private.sh start --installed --watch $$ 2>"$WORK/cupsd-start.log") ||
    { cat "$WORK/cupsd-start.log" >&2; fail "the private scheduler did not start"; }
export CUPS_SERVER=$ROOT/cupsd.sock
say "private scheduler on the system's ServerBin and DataDir in $ROOT"

# Each grep reads its whole input (no -q): with pipefail, a writer cut off
# by an early exit would turn a match into a failure.
lists_model() { lpinfo "$@" -m 2>/dev/null | grep "^$MODEL " >/dev/null; }
! lists_model || fail "the scheduler lists $MODEL before the package is installed"

# lpinfo -v asks the backends for their devices; only the simulator's.
lists_simulator() {
    lpinfo --include-schemes rvtsim -v 2>/dev/null | grep '^direct rvtsim:/' >/dev/null
}

# The driver alone: it installs without the simulator and the scheduler
# offers it.
say "dpkg -i $(basename "$DEB")"
INSTALLED=1
$SUDO dpkg -i "$DEB" >"$WORK/dpkg-i.log" 2>&1 || { cat "$WORK/dpkg-i.log" >&2; fail "dpkg -i $(basename "$DEB")"; }

# The scheduler was running before the install: CUPS reads the model
# directories for every request, so no restart is needed.
lists_model || fail "lpinfo -m does not list $MODEL"
lists_model --device-id "$DEVICE_ID" || fail "lpinfo --device-id '$DEVICE_ID' -m does not list $MODEL"
! lists_model --device-id "$OTHER_DEVICE_ID" || fail "lpinfo lists $MODEL for another printer ($OTHER_DEVICE_ID)"
! lists_simulator || fail "lpinfo -v lists the simulated printer with $PKG alone"

say "dpkg -i $(basename "$SIM_DEB")"
$SUDO dpkg -i "$SIM_DEB" >"$WORK/dpkg-i-sim.log" 2>&1 || { cat "$WORK/dpkg-i-sim.log" >&2; fail "dpkg -i $(basename "$SIM_DEB")"; }
lists_simulator || fail "lpinfo -v does not list the simulated printer after installing $SIM_PKG"

# The backend runs as root and writes only into a directory that root owns
# and others cannot write; the scheduler's directory is one.
[ "$(stat -c %U "$ROOT")" = root ] && [ $((0$(stat -c %a "$ROOT") & 022)) -eq 0 ] ||
    fail "$ROOT is not a root-owned directory others cannot write ($(stat -c '%U %a' "$ROOT"))"
PRINTER_DIR=$ROOT/printer
$SUDO mkdir -m 0755 "$PRINTER_DIR"
lpadmin -p "$QUEUE" -E -v "rvtsim:$PRINTER_DIR" -m "$MODEL" 2>&1 |
    grep -v 'Printer drivers are deprecated' >&2 || true
lpstat -p "$QUEUE" >/dev/null 2>&1 || fail "lpadmin -m $MODEL did not add the queue"

reply=$(lp -d "$QUEUE" -o PageSize=A4 -t sample.pdf samples/sample.pdf)
JOB=$(sed -n "s/^request id is $QUEUE-\([0-9]*\) .*/\1/p" <<<"$reply")
[ -n "$JOB" ] || fail "lp did not take the job: $reply"
say "job $JOB: samples/sample.pdf through the installed filter"

job_fail() {
    echo "package-test: the job's last lines in the scheduler's log:" >&2
    job_log "$ROOT" "$JOB" | tail -n 25 | sed 's/^/  /' >&2
    fail "$*"
}
wait_for_job "$ROOT" "$QUEUE" "$JOB" "$TIMEOUT" job_fail
job_log "$ROOT" "$JOB" | grep "$SERVERBIN/filter/printfilter-rvt4410lw" >/dev/null ||
    job_fail "the job did not run the installed filter $SERVERBIN/filter/printfilter-rvt4410lw"
JOB_DIR=$PRINTER_DIR/job-$JOB
[ -f "$JOB_DIR/transcript.json" ] || job_fail "the printer left no transcript in $JOB_DIR"
pages=$(find "$JOB_DIR" -name 'page-*.png' ! -name '*preview*' | wc -l)
[ "$pages" -eq "$EXPECTED_PAGES" ] || job_fail "the printer received $pages page(s), expected $EXPECTED_PAGES"
say "the printer received $pages pages"

# ------------------------------------------------------------------ remove
say "dpkg -r $SIM_PKG $PKG"
$SUDO dpkg -r "$SIM_PKG" "$PKG" >"$WORK/dpkg-r.log" 2>&1 || { cat "$WORK/dpkg-r.log" >&2; fail "dpkg -r"; }
INSTALLED=""
! lists_model || fail "lpinfo -m still lists $MODEL after the removal"
! lists_simulator || fail "lpinfo -v still lists the simulated printer after the removal"
$SUDO scripts/cupsd-private.sh stop "$ROOT"
ROOT=""

# nothing_left AFTER PACKAGE...: the packages are not installed (not even
# their configuration) and none of their files, nor a directory that their
# install made, is on disk.
nothing_left() {
    local after=$1 pkg status f d
    shift
    for pkg in "$@"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
        [ -z "$status" ] || [ "$status" = not-installed ] || fail "after $after, $pkg is '$status', not 'not-installed'"
    done
    for f in "${PKG_FILES[@]}"; do
        [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is left on disk after $after"
    done
    for d in "${NEW_DIRS[@]}"; do
        [ ! -e "$d" ] || fail "the directory $d, made by the install, is left on disk after $after"
    done
}
nothing_left "dpkg -r" "$PKG" "$SIM_PKG"

# ------------------------------------------------ the printer application
# Its package alone, without the driver's: the postinst makes the service's
# user and directories and enables the service, with no systemd running.
say "dpkg -i $(basename "$APP_DEB")"
APP_INSTALLED=1
$SUDO dpkg -i "$APP_DEB" >"$WORK/dpkg-i-app.log" 2>&1 || { cat "$WORK/dpkg-i-app.log" >&2; fail "dpkg -i $(basename "$APP_DEB")"; }
APP=/usr/sbin/rvt4410lw-printer-app
said=$("$APP" --version) || fail "the installed $APP --version failed"
[ "${said##* }" = "$version" ] || fail "the installed $APP --version says '$said', not version $version"
getent passwd "$APP_USER" >/dev/null || fail "the postinst did not make the user $APP_USER"
id -nG "$APP_USER" | tr ' ' '\n' | grep -x lp >/dev/null || fail "the user $APP_USER is not in the group lp"
for d in "${APP_DIRS[@]}"; do
    [ "$($SUDO stat -c '%U:%G %a' "$d" 2>/dev/null)" = "$APP_USER:$APP_USER 750" ] ||
        fail "$d is not a directory of $APP_USER:$APP_USER, mode 750 ($($SUDO stat -c '%U:%G %a' "$d" 2>&1))"
done
unit=$(readlink "${APP_UNIT_LINKS[0]}" || true)
[[ $unit == */systemd/system/$APP_UNIT ]] && [ -f "$unit" ] ||
    fail "the postinst did not enable $APP_UNIT (${APP_UNIT_LINKS[0]} -> '$unit')"
# The unit as systemd reads it, where its analyzer is at hand (the systemd
# package; it reads unit files without a running systemd).
if command -v systemd-analyze >/dev/null; then
    verify=$(systemd-analyze verify "$unit" 2>&1) && [ -z "$verify" ] ||
        fail "systemd-analyze verify $unit: $verify"
fi

# The installed program as the service's user, as the service runs it but on
# a private directory and a loopback port: it starts, answers on its port,
# takes a printer, lists it and shuts down.
APP_DIR=$($SUDO mktemp -d "${TMPDIR:-/tmp}/rvt-app.XXXXXX")
$SUDO chown "$APP_USER:$APP_USER" "$APP_DIR"
# A free loopback port (nothing listens on it now).
for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 20000))
    [ -z "$(ss -Htln "sport = :$port")" ] && break
done
as_app() {
    $SUDO setpriv --reuid="$APP_USER" --regid="$APP_USER" --init-groups \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin TMPDIR="$APP_DIR" HOME="$APP_DIR" "$APP" "$@"
}
say "$APP server on 127.0.0.1:$port as $APP_USER"
as_app server -o listen-hostname=127.0.0.1 -o server-port="$port" \
    -o spool-directory="$APP_DIR/spool" -o state-file="$APP_DIR/state" \
    -o log-file="$APP_DIR/log" -o log-level=debug >"$WORK/app-server.out" 2>&1 &
APP_PID=$!
app_fail() {
    echo "package-test: the printer application's output and last log lines:" >&2
    cat "$WORK/app-server.out" >&2 || true
    $SUDO tail -n 25 "$APP_DIR/log" 2>/dev/null | sed 's/^/  /' >&2 || true
    fail "$*"
}
socket="$APP_DIR/rvt4410lw-printer-app$(id -u "$APP_USER").sock"
for _ in $(seq 1 100); do
    $SUDO test -S "$socket" && break
    kill -0 "$APP_PID" 2>/dev/null || app_fail "the server ended at its start"
    sleep 0.2
done
$SUDO test -S "$socket" || app_fail "the server made no socket $socket in 20 s"
# Its web interface answers on the port.
exec 3<>"/dev/tcp/127.0.0.1/$port" || app_fail "nothing listens on 127.0.0.1:$port"
printf 'GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
status_line=$(head -n 1 <&3 | tr -d '\r')
exec 3<&-
[[ $status_line =~ ^HTTP/1\.[01]\ 200 ]] || app_fail "GET / on 127.0.0.1:$port answered '$status_line'"
as_app add -d pkgtest -v socket://127.0.0.1:9 -m rvt4410lw >"$WORK/app-add.out" 2>&1 ||
    { cat "$WORK/app-add.out" >&2; app_fail "add -d pkgtest -m rvt4410lw failed"; }
printers=$(as_app printers 2>&1) || app_fail "printers failed: $printers"
grep -x pkgtest <<<"$printers" >/dev/null || app_fail "printers does not list the printer added: $printers"
as_app shutdown >"$WORK/app-shutdown.out" 2>&1 ||
    { cat "$WORK/app-shutdown.out" >&2; app_fail "shutdown failed"; }
# The server sees the shutdown when it next wakes up: at a connection, or
# else on its 30-second timer. A connection saves the wait.
{ exec 3<>"/dev/tcp/127.0.0.1/$port" && exec 3<&-; } 2>/dev/null || true
for _ in $(seq 1 300); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$APP_PID" 2>/dev/null && app_fail "the server still runs 60 s after shutdown"
app_rc=0
wait "$APP_PID" || app_rc=$?
APP_PID=""
[ "$app_rc" -eq 0 ] || app_fail "the server ended with status $app_rc"
$SUDO rm -rf "$APP_DIR"
APP_DIR=""

say "dpkg --purge $APP_PKG"
$SUDO dpkg --purge "$APP_PKG" >"$WORK/dpkg-purge-app.log" 2>&1 || { cat "$WORK/dpkg-purge-app.log" >&2; fail "dpkg --purge $APP_PKG"; }
APP_INSTALLED=""
nothing_left "dpkg --purge" "$PKG" "$SIM_PKG" "$APP_PKG"
for f in "${APP_DIRS[@]}" "${APP_UNIT_LINKS[@]}"; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is left on disk after dpkg --purge $APP_PKG"
done

say "passed in $((SECONDS - START)) s after the build: contents, hardening, lintian, staged install, dpkg -i of the driver alone, lpinfo -m, dpkg -i of the simulator, a ${EXPECTED_PAGES}-page job through the installed driver, dpkg -r, dpkg -i of the printer application alone, its service's user, directories and enablement, the installed program run as that user, dpkg --purge"
