# shellcheck shell=bash
# Debian packages the scripts need. Sourced by scripts/run, scripts/test and
# scripts/screenshots; `need_packages run|test` installs only what is missing.
# Can also be run directly: scripts/deps.sh run|test

# Build and run the 64-bit Windows program under Wine.
#   make                   cmake's default generator (ninja is used instead when present)
#   fonts-wine             Wine's own fonts (Marlett draws the caption buttons); wine64 only recommends it
#   fonts-arphic-gbsn00lp  stands in for the dialogs' template font with the same metrics
#   locales                the zh_CN locale sources, generated privately into build/locale
#   libxrender1 libxrandr2 Wine's X11 driver (anti-aliased text, screen size); recommended only
#   x11-utils imagemagick  without a display: noticing the window (xwininfo) and its screenshot
QUELLIN_PACKAGES_RUN=(
    cmake make g++-mingw-w64-x86-64
    wine64 fonts-wine fonts-arphic-gbsn00lp locales libxrender1 libxrandr2
    xvfb x11-utils imagemagick
)
# Everything the test script builds and uses on top of that.
#   g++                    native build of the portable code, with sanitizers
#   g++-mingw-w64-i686     the 32-bit Windows build (compiled, not run: 32-bit Wine cannot run here)
#   googletest libgtest-dev  GoogleTest sources (also built with MinGW) and the native library
#   libssl-dev openssl     reference digests for the tests
#   xdotool                driving windows under Xvfb
#   clang libclang-rt-14-dev  libFuzzer (clang's runtime is only recommended by clang)
#   fuse3 libfuse3-dev     the test file system that fails, blocks and lies on purpose
QUELLIN_PACKAGES_TEST=(
    "${QUELLIN_PACKAGES_RUN[@]}"
    g++ g++-mingw-w64-i686
    googletest libgtest-dev libssl-dev openssl
    xdotool
    clang libclang-rt-14-dev
    fuse3 libfuse3-dev
)

_qd_installed() {
    dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q ' installed$'
}

# need_packages run|test [extra packages...]
need_packages() {
    local set=${1:?need_packages run|test}; shift
    local -a want missing=()
    case $set in
        run) want=("${QUELLIN_PACKAGES_RUN[@]}") ;;
        test) want=("${QUELLIN_PACKAGES_TEST[@]}") ;;
        *) echo "need_packages: unknown set '$set' (run or test)" >&2; return 2 ;;
    esac
    want+=("$@")
    if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
        echo "[deps] not a Debian-like system: make sure these are installed: ${want[*]}" >&2
        return 0
    fi
    local p
    for p in "${want[@]}"; do
        _qd_installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local -a sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "[deps] missing packages (${missing[*]}) and no sudo; install them as root" >&2; return 1; }
        sudo=(sudo)
    fi
    echo "[deps] installing: ${missing[*]}" >&2
    local t0=$SECONDS
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null >&2 \
        || { echo "[deps] apt-get update failed" >&2; return 1; }
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null >&2 \
        || { echo "[deps] apt-get install failed" >&2; return 1; }
    for p in "${missing[@]}"; do
        _qd_installed "$p" || { echo "[deps] $p still not installed" >&2; return 1; }
    done
    echo "[deps] installed in $((SECONDS - t0)) s" >&2
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    need_packages "${1:-test}" "${@:2}"
fi
