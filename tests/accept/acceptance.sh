#!/bin/bash
# Acceptance walk of the real Quellin.exe: started under Wine in Xvfb as a user
# starts it, driven from outside with real X input (xdotool) and read back by
# quellin_probe.exe; the walk itself is acceptance.py.
#
#   tests/accept/acceptance.sh [--build-dir DIR] [--exe PATH] [--probe PATH]
#
# DIR defaults to build/x64; the program and the probe default to the ones
# built there. Screenshots (PNG) go to QUELLIN_SHOTS_DIR, default DIR/shots.
#
# Wine environment: when DISPLAY and WINEPREFIX come from our own Wine scripts
# (scripts/test before ctest; QW_BUILD_DIR is then set as well), or
# QUELLIN_ACCEPT_REUSE_ENV=1, they are used as they are and nothing is started
# or ended here. Otherwise (always with QUELLIN_ACCEPT_REUSE_ENV=0) a private
# Xvfb, DIR's prefix and a wineserver are started, and ended on exit, so no
# window ever opens on the user's screen and no click lands there.
#
# Exit status: 0 passed, 1 a check failed, 2 the environment could not be
# prepared; 124 or 137 when the whole walk ran over QUELLIN_ACCEPT_TIMEOUT
# seconds (default 220).
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

BUILD=$ROOT/build/x64
EXE=''
PROBE=''
while [ $# -gt 0 ]; do
    case $1 in
        --build-dir) BUILD=${2:?}; shift 2 ;;
        --exe) EXE=${2:?}; shift 2 ;;
        --probe) PROBE=${2:?}; shift 2 ;;
        -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
        *) echo "acceptance.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
EXE=${EXE:-$BUILD/Quellin.exe}
PROBE=${PROBE:-$BUILD/tests/accept/quellin_probe.exe}
SHOTS=${QUELLIN_SHOTS_DIR:-$BUILD/shots}
SHOTS=$(realpath -m -- "$SHOTS")

for f in "$EXE" "$PROBE"; do
    [ -f "$f" ] || { echo "acceptance.sh: $f not built" >&2; exit 2; }
done

# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"

reuse=${QUELLIN_ACCEPT_REUSE_ENV:-}
if [ -z "$reuse" ]; then
    if [ -n "${DISPLAY:-}" ] && [ -n "${WINEPREFIX:-}" ] && [ -n "${QW_BUILD_DIR:-}" ]; then
        reuse=1
    else
        reuse=0
    fi
fi

if [ "$reuse" = 1 ]; then
    if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "acceptance.sh: QUELLIN_ACCEPT_REUSE_ENV=1 needs DISPLAY and a prepared WINEPREFIX" >&2
        exit 2
    fi
    echo "[accept] using the running Wine environment (DISPLAY=$DISPLAY, WINEPREFIX=$WINEPREFIX)"
else
    qw_install_trap
    unset DISPLAY   # a private X server, never the user's screen
    if ! { qw_locale && qw_env "$BUILD" && qw_xvfb_start && qw_prefix && qw_server_start; }; then
        echo "acceptance.sh: the Wine environment could not be prepared" >&2
        exit 2
    fi
fi

mkdir -p "$SHOTS" || exit 2
echo "[accept] program $EXE"
echo "[accept] screenshots in $SHOTS"
timeout -k 10 "${QUELLIN_ACCEPT_TIMEOUT:-220}" \
    python3 "$HERE/acceptance.py" --exe "$EXE" --probe "$PROBE" --shots "$SHOTS" </dev/null
rc=$?
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "acceptance.sh: the walk did not finish within ${QUELLIN_ACCEPT_TIMEOUT:-220} s" >&2
fi
exit $rc
