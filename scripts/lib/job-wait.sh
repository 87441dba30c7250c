# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Waiting for one job of a private CUPS scheduler (scripts/cupsd-private.sh)
# to end, for the scripts that print through it. Sourced; CUPS_SERVER must
# name the scheduler.
#
#   job_log ROOT JOB
#       The lines of the scheduler's log (ROOT/log/error_log) about job JOB.
#   wait_for_job ROOT QUEUE JOB TIMEOUT FAIL
#       Returns when job JOB of QUEUE has ended, its backend has exited and
#       the scheduler logged "Job completed."; otherwise calls the function
#       named FAIL with the reason (FAIL is expected not to return): the
#       queue stopped (a filter or backend failed: the job would wait for
#       ever), the job did not end in TIMEOUT seconds, or it did not complete.

job_log() {
    grep -a "\[Job $2\] " "$1/log/error_log" 2>/dev/null || true
}

# Each grep reads its whole input (no -q): with pipefail, a writer cut off
# by an early exit would turn a match into a failure.
wait_for_job() {
    local root=$1 queue=$2 job=$3 timeout=$4 fail=$5 deadline
    deadline=$((SECONDS + timeout))
    # The job leaves the list of unfinished jobs when it ends.
    while lpstat -o "$queue" 2>/dev/null | grep "^$queue-$job " >/dev/null; do
        if lpstat -p "$queue" 2>/dev/null | grep disabled >/dev/null; then
            "$fail" "the queue stopped: $(lpstat -p "$queue" 2>/dev/null | tail -n +2 | tr -s ' \t' ' ')"
            return 1
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            "$fail" "the job did not end in $timeout s"
            return 1
        fi
        sleep 0.5
    done
    # The job is over when the backend, the last of its programs, has exited.
    local _
    for _ in $(seq 1 50); do
        job_log "$root" "$job" | grep 'backend/[^)]*) \(exited\|stopped\|terminated\|crashed\)' >/dev/null && break
        sleep 0.2
    done
    if ! job_log "$root" "$job" | grep 'Job completed\.' >/dev/null; then
        "$fail" "the job did not complete"
        return 1
    fi
}
