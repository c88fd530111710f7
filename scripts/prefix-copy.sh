# Sourced by the scripts that copy the template prefix: kv_prefix_copy SRC DST.
# Wine's own program files (DLLs, programs, drivers, code pages: most of the
# prefix's size) are only ever read, so the copy hard-links them; every other
# file (registry, INI files, anything a test or Wine may write in place) is a
# real copy, listed in the template's .kv-copy by make-wine-template.sh.
# A test that wants to change a Wine file must replace it (delete, then
# write), never write into it: the template shares that file.
kv_prefix_copy() {
    if [ -f "$1/.kv-copy" ]; then
        cp -al "$1/." "$2/" &&
            (cd "$1" && tr '\n' '\0' < .kv-copy | xargs -0 cp -a --parents --remove-destination -t "$2")
    else
        cp -a "$1/." "$2/"
    fi
}
