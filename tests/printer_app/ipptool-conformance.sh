#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
#
# Runs CUPS's ipptool conformance files ipp-1.1.test, ipp-2.0.test and
# ipp-everywhere.test against a running IPP Everywhere printer and tallies
# them:
#
#   tests/printer_app/ipptool-conformance.sh URI OUTDIR [options]
#     URI            the printer, e.g. ipp://127.0.0.1:PORT/ipp/print/rvt
#     OUTDIR         made if missing; gets NAME.txt (ipptool's test report),
#                    NAME.err (what ipptool wrote to its standard error),
#                    NAME.plist (the report with untruncated test names) for
#                    each file, and summary.txt (what is printed at the end)
#     --samples DIR  the documents the files send (default: written into
#                    OUTDIR/samples by make-ipptool-samples.sh)
#     --sample NAME  the document given with -f, relative to the samples
#                    (default: one A4 page, 600 dpi sgray-8 PWG raster, what
#                    the printer application prints without conversion)
#     --tests DIR    where the .test files are (default /usr/share/cups/ipptool)
#     --timeout SEC  ipptool's time-out for each request (default 30)
#     --repeat-busy  ipptool -R: repeat a request the printer answers with
#                    server-error-busy (a printer that is busy may say so;
#                    without this such a test fails)
#
# Exit status 0 when every file ran to its end and no test failed but the
# expected failure below; 1 otherwise; 2 for a wrong command line.
#
# ipptool takes a FILE name relative to the directory of the test file that
# names it, so the test files are linked into a directory of their own
# (OUTDIR/run) next to links to the samples, and ipptool runs there.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Tests allowed to fail, with the reason. PAPPL 1.3.1 answers a Print-Job
# holding its job (job-hold-until) without job-state-reasons.
expected_failures=("Print-Job with job-hold-until")

usage() {
    sed -n '9,24s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
    exit 2
}

[ $# -ge 2 ] || usage
uri=$1
outdir=$2
shift 2
samples=""
sample=pwg-raster-samples-600dpi/sgray-8/onepage-a4-sgray-8-600dpi.pwg
testdir=/usr/share/cups/ipptool
timeout=30
repeat_busy=()
while [ $# -gt 0 ]; do
    case $1 in
    --samples | --sample | --tests | --timeout)
        [ $# -ge 2 ] || usage
        case $1 in
        --samples) samples=$2 ;;
        --sample) sample=$2 ;;
        --tests) testdir=$2 ;;
        --timeout) timeout=$2 ;;
        esac
        shift 2
        ;;
    --repeat-busy)
        repeat_busy=(-R)
        shift
        ;;
    *) usage ;;
    esac
done

command -v ipptool >/dev/null || {
    echo "$0: ipptool is not installed (Debian: cups-ipp-utils)" >&2
    exit 1
}

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
if [ -z "$samples" ]; then
    samples=$outdir/samples
    "$here/make-ipptool-samples.sh" "$samples" --tests "$testdir"
fi
samples=$(cd "$samples" && pwd)
[ -f "$samples/$sample" ] || {
    echo "$0: the -f document $samples/$sample does not exist" >&2
    exit 1
}

files=(ipp-1.1 ipp-2.0 ipp-everywhere)
run=$outdir/run
rm -rf "$run"
mkdir "$run"
for file in "${files[@]}"; do
    ln -s "$testdir/$file.test" "$run/$file.test"
done
for entry in "$samples"/*; do
    ln -s "$entry" "$run/$(basename "$entry")"
done

# ipptool -t prints one line per test: four spaces, the name (cut to 68
# characters and padded), then [PASS], [FAIL] or [SKIP]; lines of details
# are indented further and a repeated request shows [0001]... first.
results() { # REPORT -> "STATUS<TAB>NAME" lines
    sed -n -E 's/^    ([^ ].{0,67}) +\[(PASS|FAIL|SKIP)\]$/\2\t\1/p' "$1" | sed -E 's/ +$//'
}

summary=$outdir/summary.txt
: >"$summary"
say() { echo "$*" | tee -a "$summary"; }

is_expected() {
    local name=$1 expected
    for expected in "${expected_failures[@]}"; do
        [ "$name" = "${expected:0:68}" ] && return 0
    done
    return 1
}

ok=true
total_started=$SECONDS
say "ipptool conformance of $uri (-f $sample)"
for file in "${files[@]}"; do
    report=$outdir/$file.txt
    errors=$outdir/$file.err
    started=$SECONDS
    status=0
    (cd "$run" && ipptool -V 2.0 -tI "${repeat_busy[@]}" -T "$timeout" -f "$sample" \
        -P "$outdir/$file.plist" "$uri" "$file.test") >"$report" 2>"$errors" || status=$?
    seconds=$((SECONDS - started))

    passed=$(results "$report" | grep -c '^PASS' || true)
    failed=$(results "$report" | grep -c '^FAIL' || true)
    skipped=$(results "$report" | grep -c '^SKIP' || true)
    tests=$((passed + failed + skipped))
    say ""
    say "$file.test: $tests tests, $passed passed, $failed failed, $skipped skipped ($seconds s, report $report)"

    # A document it cannot read, a lost connection or a parse error stop
    # ipptool in the middle of a file with a message on its standard error,
    # and still with its summary of the tests so far and exit status 0.
    own=$(sed -n -E 's/^Summary: ([0-9]+) tests, ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped.*/\1 \2 \3 \4/p' "$report")
    if [ -s "$errors" ]; then
        say "  ERROR: ipptool stopped (exit status $status):"
        head -n 5 "$errors" | sed 's/^/    /' | tee -a "$summary"
        ok=false
    elif [ "$tests" -eq 0 ]; then
        say "  ERROR: no test result in the report (exit status $status)"
        ok=false
    elif [ "$tests" -gt 1 ] && [ "$own" != "$tests $passed $failed $skipped" ]; then
        say "  ERROR: $tests results read, ipptool's summary says: ${own:-nothing}"
        ok=false
    elif [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
        say "  ERROR: ipptool exited with status $status without a failed test"
        ok=false
    fi

    while IFS=$'\t' read -r result name; do
        if [ "$result" = FAIL ]; then
            if is_expected "$name"; then
                say "  expected failure: $name"
            else
                say "  FAILED: $name"
                ok=false
            fi
        fi
    done < <(results "$report")
    for expected in "${expected_failures[@]}"; do
        result=$(results "$report" | awk -F '\t' -v n="${expected:0:68}" '$2 == n { print $1 }' | sort -u | paste -sd/)
        [ "$result" = FAIL ] || say "  expected failure \"$expected\": ${result:-not run}"
    done
done

say ""
if $ok; then
    say "PASS: no unexpected failure ($((SECONDS - total_started)) s)"
else
    say "FAIL: see the failures above and the reports in $outdir ($((SECONDS - total_started)) s)"
fi
$ok
