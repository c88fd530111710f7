# Sourced by the scripts that end or check the processes of a run:
# kv_pids_env PATTERN prints the pids, other than this shell's, whose
# environment has a variable matching the extended grep pattern (a Wine process
# carries its WINEPREFIX, every process of a test run its TMPDIR). The
# caller must not carry such a variable itself: its own subshells would match.
kv_pids_env() {
    for d in /proc/[0-9]*; do
        [ "${d#/proc/}" = $$ ] && continue
        { tr '\0' '\n' < "$d/environ"; } 2>/dev/null | grep -qE -- "$1" && echo "${d#/proc/}"
    done
    return 0
}
