#!/usr/bin/env bash
# The Debian package, checked the way a user gets it: builds it (cmake +
# cpack -G DEB in a fresh build directory), checks what it holds and runs
# lintian on it, checks that a staged `cmake --install` with another prefix
# puts the same files where they belong, then installs the package with
# dpkg -i, prints samples/sample.pdf through the INSTALLED filter onto the
# installed rvtsim backend (a private CUPS scheduler whose ServerBin and
# DataDir are the system's own, the queue added by the PPD's model name),
# removes the package with dpkg -r and checks that nothing of it is left.
#
# Usage: scripts/package-test.sh
# Environment:
#   BUILD_DIR  the build directory (default: build-pkg; a release build
#              without tests, reconfigured with these options if it exists)
#   JOBS       build jobs (default 2)
#   TIMEOUT    seconds the print job may take (default 120)
#
# It never replaces a user's files: it refuses to run (exit 1) when the
# package is installed, or when any file of the package is on disk already
# (installed by another package or by `cmake --install`). Whatever happens,
# the scheduler is stopped and the package removed again. Not root: dpkg and
# the scheduler run under sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-pkg}
JOBS=${JOBS:-2}
TIMEOUT=${TIMEOUT:-120}
PKG=printer-driver-rvt4410lw
MODEL=rvt4410lw/rvt4410lw.ppd
DEVICE_ID="MFG:RVT;MDL:RV-T4410LW;CMD:RVTJOB,JBIG;"
OTHER_DEVICE_ID="MFG:Other;MDL:Some Printer;CMD:PCL;"
QUEUE=rvt4410lw-pkg
EXPECTED_PAGES=3

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

say() { echo "package-test: $*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

for c in cmake cpack dpkg dpkg-deb dpkg-query lintian readelf cupsd lpinfo lpadmin lp lpstat; do
    command -v "$c" >/dev/null || fail "$c is missing; run scripts/install-deps.sh"
done
SERVERBIN=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
DATADIR=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/rvt-pkg.XXXXXX")
ROOT=""
INSTALLED=""
cleanup() {
    local rc=$?
    if [ -n "$ROOT" ]; then
        $SUDO scripts/cupsd-private.sh stop "$ROOT" || true
        ROOT=""
    fi
    if [ -n "$INSTALLED" ]; then
        say "removing the package after a failure"
        $SUDO dpkg --purge "$PKG" >/dev/null || echo "package-test: could not remove $PKG: run dpkg --purge $PKG" >&2
        INSTALLED=""
    fi
    rm -rf "$WORK"
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ------------------------------------------------------------------ build
say "building the package in $BUILD_DIR"
rm -f "$BUILD_DIR"/${PKG}_*.deb
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DRVT_BUILD_TESTS=OFF -DRVT_BUILD_BENCH=OFF >"$WORK/configure.log" ||
    { cat "$WORK/configure.log" >&2; fail "configure"; }
cmake --build "$BUILD_DIR" -j"$JOBS"
(cd "$BUILD_DIR" && cpack -G DEB) >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$BUILD_DIR"/${PKG}_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one ${PKG}_*.deb in $BUILD_DIR: ${debs[*]}"
DEB=$(cd "$(dirname "${debs[0]}")" && pwd)/$(basename "${debs[0]}")
START=$SECONDS
say "built $DEB"

# ------------------------------------------------------- what it holds
# Every file a user needs, and nothing else (no developer programs, tests,
# static libraries or headers): mode and path, the path an anchored regular
# expression. "prefix" paths are under the install prefix; "abs" paths are
# where CUPS and udev look, whatever the prefix; "deb" files are the
# package's own and only in the package.
EXPECTED=(
    "prefix -rwxr-xr-x bin/Tervane"
    "prefix -rwxr-xr-x bin/tervane-cli"
    "prefix -rw-r--r-- share/applications/tervane\.desktop"
    "prefix -rw-r--r-- share/icons/hicolor/scalable/apps/tervane\.svg"
    "prefix -rw-r--r-- share/man/man1/tervane-cli\.1\.gz"
    "prefix -rw-r--r-- share/man/man1/Tervane\.1\.gz"
    "prefix -rw-r--r-- share/man/man8/printfilter-rvt4410lw\.8\.gz"
    "abs -rwxr-xr-x ${SERVERBIN#/}/filter/printfilter-rvt4410lw"
    "abs -rwx------ ${SERVERBIN#/}/backend/rvtsim"
    "abs -rw-r--r-- ${DATADIR#/}/model/rvt4410lw/rvt4410lw\.ppd"
    "abs -rw-r--r-- (usr/)?lib/udev/rules\.d/[0-9][0-9]-[A-Za-z0-9_.-]+\.rules"
    "deb -rw-r--r-- share/doc/$PKG/copyright"
    "deb -rw-r--r-- share/doc/$PKG/changelog\.gz"
    "deb -rw-r--r-- share/lintian/overrides/$PKG"
)

# check_tree TREE PREFIX WITH_DEB: the files (and links) under TREE are
# exactly the expected ones, each with its mode.
check_tree() {
    local tree=$1 prefix=${2#/} with_deb=$3 entry kind mode rx path got n errors=0
    local -a files patterns modes
    local -A hits=()
    for entry in "${EXPECTED[@]}"; do
        read -r kind mode rx <<<"$entry"
        [ "$kind" = deb ] && [ -z "$with_deb" ] && continue
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

say "checking the package's contents"
dpkg-deb -x "$DEB" "$WORK/deb"
check_tree "$WORK/deb" /usr yes || fail "the package does not hold exactly the expected files"
bad_owner=$(dpkg-deb -c "$DEB" | awk '$2 != "root/root"')
[ -z "$bad_owner" ] || fail "files not owned by root: $bad_owner"

# Compressed files as Debian wants them: gzip -9, no name, no time stamp.
while IFS= read -r gz; do
    header=$(od -An -tx1 -N9 "$gz" | tr -d ' \n')
    [ "$header" = 1f8b08000000000002 ] || fail "${gz#"$WORK/deb"} is not compressed with gzip -9n (header $header)"
done < <(find "$WORK/deb" -type f -name '*.gz')

# Stripped programs: no symbol table, no .comment section.
while IFS= read -r f; do
    [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ] || continue
    sections=$(readelf -SW "$f")
    ! grep -q '\.symtab\|\.comment' <<<"$sections" || fail "${f#"$WORK/deb"} is not stripped"
done < <(find "$WORK/deb" -type f -perm /111)

# The control fields: name, place in the archive, maintainer, the libraries
# found by dpkg-shlibdeps and the packages the driver works with.
CONTROL_CHECKS=(
    "Package ^$PKG\$"
    "Version ^[0-9]+\.[0-9]+\.[0-9]+\$"
    "Section ^text\$"
    "Priority ^optional\$"
    "Architecture ^[a-z0-9]+\$"
    "Maintainer ^[^<>]+ <[^<>@ ]+@[^<>@ ]+\.[a-z]+>\$"
    "Depends (^|, )libcups2( |,|\$)"
    "Depends (^|, )libjbig0( |,|\$)"
    "Depends (^|, )libusb-1\.0-0( |,|\$)"
    "Depends (^|, )libqt6widgets6( |,|\$)"
    "Depends (^|, )qt6-qpa-plugins( |,|\$)"
    "Recommends (^|, )cups-daemon( |,|\$)"
    "Recommends (^|, )cups-filters( |,|\$)"
    "Recommends (^|, )ghostscript( |,|\$)"
)
for check in "${CONTROL_CHECKS[@]}"; do
    field=${check%% *} rx=${check#* }
    value=$(dpkg-deb -f "$DEB" "$field")
    [[ $value =~ $rx ]] || fail "control field $field is '$value', which does not match $rx"
done
version=$(dpkg-deb -f "$DEB" Version)
newest=$(zcat "$WORK/deb/usr/share/doc/$PKG/changelog.gz" | sed -n 1p)
[[ $newest == "$PKG ($version) "* ]] ||
    fail "the changelog's newest entry is not for version $version"

# ---------------------------------------------------------------- lintian
say "lintian"
lint_rc=0
lintian --fail-on error --display-info "$DEB" >"$WORK/lintian.txt" 2>&1 || lint_rc=$?
grep -v '^running with root privileges' "$WORK/lintian.txt" | sed 's/^/  /' || true
[ "$lint_rc" -eq 0 ] || fail "lintian reports errors (status $lint_rc)"

# ---------------------------------------------- staged install, other prefix
say "staged install with --prefix /opt/rvt4410lw"
DESTDIR="$WORK/stage" cmake --install "$BUILD_DIR" --prefix /opt/rvt4410lw >"$WORK/install.log" ||
    { cat "$WORK/install.log" >&2; fail "cmake --install"; }
check_tree "$WORK/stage" /opt/rvt4410lw "" || fail "the staged install does not hold exactly the expected files"

# ------------------------------------------------- never replace a user's files
status=$(dpkg-query -W -f='${db:Status-Status}' "$PKG" 2>/dev/null || true)
if [ -n "$status" ] && [ "$status" != not-installed ]; then
    fail "$PKG is already on this system (status: $status); remove it first (apt remove $PKG) - this test installs and removes it"
fi
mapfile -t PKG_FILES < <(cd "$WORK/deb" && find . \( -type f -o -type l \) -printf '/%P\n' | sort)
mapfile -t PKG_DIRS < <(cd "$WORK/deb" && find . -mindepth 1 -type d -printf '/%P\n' | sort -r)
for f in "${PKG_FILES[@]}"; do
    owner=$(dpkg-query -S "$f" 2>/dev/null | cut -d: -f1 || true)
    [ -z "$owner" ] || fail "$f belongs to the package $owner already; this test would replace it"
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is on disk already (an install from source? see README, Uninstall); this test would replace it"
done

# ----------------------------------------- install, and print through it
ROOT=$($SUDO scripts/cupsd-private.sh start --installed --watch $$ 2>"$WORK/cupsd-start.log") ||
    { cat "$WORK/cupsd-start.log" >&2; fail "the private scheduler did not start"; }
export CUPS_SERVER=$ROOT/cupsd.sock
say "private scheduler on the system's ServerBin and DataDir in $ROOT"

# Each grep reads its whole input (no -q): with pipefail, a writer cut off
# by an early exit would turn a match into a failure.
lists_model() { lpinfo "$@" -m 2>/dev/null | grep "^$MODEL " >/dev/null; }
! lists_model || fail "the scheduler lists $MODEL before the package is installed"

say "dpkg -i $(basename "$DEB")"
INSTALLED=1
$SUDO dpkg -i "$DEB" >"$WORK/dpkg-i.log" 2>&1 || { cat "$WORK/dpkg-i.log" >&2; fail "dpkg -i"; }

# The scheduler was running before the install: CUPS reads the model
# directories for every request, so no restart is needed.
lists_model || fail "lpinfo -m does not list $MODEL"
lists_model --device-id "$DEVICE_ID" || fail "lpinfo --device-id '$DEVICE_ID' -m does not list $MODEL"
! lists_model --device-id "$OTHER_DEVICE_ID" || fail "lpinfo lists $MODEL for another printer ($OTHER_DEVICE_ID)"

PRINTER_DIR=$ROOT/printer
$SUDO mkdir -m 0755 "$PRINTER_DIR"
lpadmin -p "$QUEUE" -E -v "rvtsim:$PRINTER_DIR" -m "$MODEL" 2>&1 |
    grep -v 'Printer drivers are deprecated' >&2 || true
lpstat -p "$QUEUE" >/dev/null 2>&1 || fail "lpadmin -m $MODEL did not add the queue"

reply=$(lp -d "$QUEUE" -o PageSize=A4 -t sample.pdf samples/sample.pdf)
JOB=$(sed -n "s/^request id is $QUEUE-\([0-9]*\) .*/\1/p" <<<"$reply")
[ -n "$JOB" ] || fail "lp did not take the job: $reply"
say "job $JOB: samples/sample.pdf through the installed filter"

job_log() { grep -a "\[Job $JOB\] " "$ROOT/log/error_log" 2>/dev/null || true; }
job_fail() {
    echo "package-test: the job's last lines in the scheduler's log:" >&2
    job_log | tail -n 25 | sed 's/^/  /' >&2
    fail "$*"
}
deadline=$((SECONDS + TIMEOUT))
while lpstat -o "$QUEUE" 2>/dev/null | grep "^$QUEUE-$JOB " >/dev/null; do
    if lpstat -p "$QUEUE" 2>/dev/null | grep disabled >/dev/null; then
        job_fail "the queue stopped: $(lpstat -p "$QUEUE" 2>/dev/null | tail -n +2 | tr -s ' \t' ' ')"
    fi
    [ $SECONDS -lt $deadline ] || job_fail "the job did not end in $TIMEOUT s"
    sleep 0.5
done
for _ in $(seq 1 50); do
    job_log | grep 'backend/rvtsim) \(exited\|stopped\|terminated\|crashed\)' >/dev/null && break
    sleep 0.2
done
job_log | grep 'Job completed\.' >/dev/null || job_fail "the job did not complete"
job_log | grep "$SERVERBIN/filter/printfilter-rvt4410lw" >/dev/null ||
    job_fail "the job did not run the installed filter $SERVERBIN/filter/printfilter-rvt4410lw"
JOB_DIR=$PRINTER_DIR/job-$JOB
[ -f "$JOB_DIR/transcript.json" ] || job_fail "the printer left no transcript in $JOB_DIR"
pages=$(find "$JOB_DIR" -name 'page-*.png' ! -name '*preview*' | wc -l)
[ "$pages" -eq "$EXPECTED_PAGES" ] || job_fail "the printer received $pages page(s), expected $EXPECTED_PAGES"
say "the printer received $pages pages"

# ------------------------------------------------------------------ remove
say "dpkg -r $PKG"
$SUDO dpkg -r "$PKG" >"$WORK/dpkg-r.log" 2>&1 || { cat "$WORK/dpkg-r.log" >&2; fail "dpkg -r"; }
INSTALLED=""
! lists_model || fail "lpinfo -m still lists $MODEL after the removal"
$SUDO scripts/cupsd-private.sh stop "$ROOT"
ROOT=""

status=$(dpkg-query -W -f='${db:Status-Status}' "$PKG" 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = not-installed ] || fail "after dpkg -r, $PKG is '$status', not 'not-installed'"
for f in "${PKG_FILES[@]}"; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is left on disk after dpkg -r"
done
for d in "${PKG_DIRS[@]}"; do
    # A directory no other package owns goes with the package.
    if ! dpkg-query -S "$d" >/dev/null 2>&1; then
        [ ! -e "$d" ] || fail "the directory $d is left on disk after dpkg -r"
    fi
done

say "passed in $((SECONDS - START)) s after the build: contents, lintian, staged install, dpkg -i, lpinfo -m, a ${EXPECTED_PAGES}-page job through the installed driver, dpkg -r"
