# shellcheck shell=bash
# Configures and builds one build tree, keeping the output in a log whose last
# lines are shown when the build fails. Sourced by scripts/test, run,
# screenshots and bench.
#
#   quellin_build LOG DIR [TARGET...] -- [CMAKE ARGS...]
# LOG is the log file, DIR the build tree (configured on first use, with Ninja
# when it is installed), TARGETs what to build (everything when none). With
# QUELLIN_VERBOSE=1 the output is shown as it happens. Returns cmake's status.
quellin_build() {
    local log=${1:?log file} dir=${2:?build dir}; shift 2
    local -a targets=() gen=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=(--target "$1"); shift; done
    [ "${1:-}" = -- ] && shift
    if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then gen=(-G Ninja); fi
    mkdir -p "$(dirname "$log")" || return 1
    {
        cmake -S "${QUELLIN_ROOT:-$PWD}" -B "$dir" "${gen[@]}" "$@" &&
        cmake --build "$dir" -j2 "${targets[@]}"
    } </dev/null >"$log" 2>&1 &
    local pid=$! rc
    if [ "${QUELLIN_VERBOSE:-0}" = 1 ]; then tail -n +1 -f --pid=$pid "$log"; fi
    wait $pid; rc=$?
    if [ $rc -ne 0 ] && [ "${QUELLIN_VERBOSE:-0}" != 1 ]; then
        echo "---- last lines of $log:" >&2
        tail -n 60 "$log" >&2
    fi
    return $rc
}
