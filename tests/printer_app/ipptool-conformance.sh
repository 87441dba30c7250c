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
#                    NAME.plist (the report with untruncated test names),
#                    NAME.results (file, result, name of each test) for each
#                    file, and summary.txt (what is printed at the end)
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

# Tests allowed to fail, with the reason:
# - PAPPL 1.3.1 answers a Print-Job holding its job (job-hold-until) without
#   job-state-reasons.
# - IPP Everywhere's list of required attributes asks for three things this
#   printer cannot truthfully claim: identify-actions (the printer has no
#   display, light or sound a client could use to find it), overrides-
#   supported (PAPPL 1.3.1 has no page overrides) and printer-supply (the
#   printer reports no supply levels). Every other attribute of the list is
#   there; the test names them one by one in its report.
expected_failures=("Print-Job with job-hold-until"
                   "PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes")

usage() {
    sed -n '9,25s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
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
# are indented further and a repeated request shows [0001]... first. The
# tests of each file it INCLUDEs come first, under a line "NAME.test":
# of their own.
results() { # REPORT -> "TEST-FILE<TAB>STATUS<TAB>NAME" lines
    awk '
        /^"[^"]+":$/ { file = substr($0, 2, length($0) - 3); next }
        /^    [^ ].* \[(PASS|FAIL|SKIP)\]$/ {
            name = substr($0, 5, length($0) - 11)
            sub(/ +$/, "", name)
            print file "\t" substr($0, length($0) - 4, 4) "\t" name
        }' "$1"
}
count() { # RESULTS STATUS [TEST-FILE] -> how many
    awk -F '\t' -v s="$2" -v f="${3:-}" '$2 == s && (f == "" || $1 == f) { n++ } END { print n + 0 }' "$1"
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

    results "$report" >"$outdir/$file.results"
    passed=$(count "$outdir/$file.results" PASS)
    failed=$(count "$outdir/$file.results" FAIL)
    skipped=$(count "$outdir/$file.results" SKIP)
    tests=$((passed + failed + skipped))
    own_passed=$(count "$outdir/$file.results" PASS "$file.test")
    own_failed=$(count "$outdir/$file.results" FAIL "$file.test")
    own_skipped=$(count "$outdir/$file.results" SKIP "$file.test")
    own_tests=$((own_passed + own_failed + own_skipped))
    say ""
    say "$file.test: $tests tests, $passed passed, $failed failed, $skipped skipped" \
        "($((tests - own_tests)) of them from the files it includes; $seconds s)"

    # A document it cannot read, a lost connection or a parse error stop
    # ipptool in the middle of a file with a message on its standard error,
    # and still with exit status 0 and its summary of the tests so far. That
    # summary and the exit status speak of the file's own tests only, not of
    # those of the files it includes.
    summed=$(sed -n -E 's/^Summary: ([0-9]+) tests, ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped.*/\1 \2 \3 \4/p' "$report")
    if [ -s "$errors" ]; then
        say "  ERROR: ipptool stopped (exit status $status):"
        head -n 5 "$errors" | sed 's/^/    /' | tee -a "$summary"
        ok=false
    elif [ "$own_tests" -eq 0 ]; then
        say "  ERROR: no result of $file.test's own tests in $report (exit status $status)"
        ok=false
    elif [ "$own_tests" -gt 1 ] && [ "$summed" != "$own_tests $own_passed $own_failed $own_skipped" ]; then
        say "  ERROR: $own_tests results of its own read, ipptool's summary says: ${summed:-nothing}"
        ok=false
    elif [ "$status" -ne 0 ] && [ "$own_failed" -eq 0 ]; then
        say "  ERROR: ipptool exited with status $status without a failed test"
        ok=false
    fi

    while IFS=$'\t' read -r from result name; do
        if [ "$result" = FAIL ]; then
            if is_expected "$name"; then
                say "  expected failure: $name ($from)"
            else
                say "  FAILED: $name ($from)"
                ok=false
            fi
        fi
    done <"$outdir/$file.results"
    for expected in "${expected_failures[@]}"; do
        result=$(awk -F '\t' -v n="${expected:0:68}" '$3 == n { print $2 }' "$outdir/$file.results" |
            sort -u | paste -sd/)
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
