#!/bin/sh
# The suite's last test: nothing of the run remains. Every test runs with
# TMPDIR in the run's folder (wine-run.sh moves it into its prefix), so a
# process of the run (Wine, its server, Xvfb) still carries it, and a prefix
# copy, a server folder or a work folder is still in it.
# usage: no_leftovers.sh RUN_TMP
set -u
run_tmp=$1
fail=0
. "$(dirname "$0")/../scripts/procs.sh"
for pid in $(kv_pids_env "^TMPDIR=$run_tmp(/|\$)"); do
    echo "still running: $pid $(tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null)"
    fail=1
done
left=$(ls -A "$run_tmp" 2>/dev/null)
if [ -n "$left" ]; then
    echo "left in $run_tmp:"
    echo "$left" | sed 's/^/  /'
    fail=1
fi
[ $fail = 0 ] && echo "nothing left behind in $run_tmp"
exit $fail
