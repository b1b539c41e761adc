# shellcheck shell=bash
# Wine environment for running and testing the Windows build headless.
# Sourced by scripts/run, scripts/test and scripts/screenshots; not run directly.
#
#   qw_locale                generate build/locale/zh_CN.UTF-8 (code page 936 for Wine) and en_US.UTF-8 (1252)
#   qw_env BUILD_DIR         export WINEPREFIX=BUILD_DIR/wineprefix and the rest
#   qw_prefix                create the prefix once, (re)apply fonts and registry settings
#   qw_xvfb_start            start a private Xvfb on a free display, export DISPLAY
#   qw_server_start          persistent wineserver + wineboot + one idle GUI process
#   qw_teardown              end what the functions above started (qw_install_trap does it on exit)
#
# Every Wine process started here runs with stdin from /dev/null.

QUELLIN_ROOT=${QUELLIN_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
QW_WINE=/usr/lib/wine/wine64
QW_WINESERVER=/usr/lib/wine/wineserver
QW_LOCALE_DIR=$QUELLIN_ROOT/build/locale
QW_LOCALE=zh_CN.UTF-8
QW_DLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
QW_XVFB_SCREEN=${QW_XVFB_SCREEN:-1280x1024x24}
# Bump when the prefix settings below change: existing prefixes then get them re-applied.
QW_PREFIX_STAMP="quellin-prefix 1"
# The face that stands in for the dialogs' template font; it has the same 9-point
# dialog base units (6 x 12) as the Windows font.
QW_SUBST_FONT="AR PL SungtiL GB"

QW_XVFB_PID=
QW_IDLE_PID=
QW_SERVER_STARTED=

qw_log() { printf '[wine] %s\n' "$*" >&2; }
qw_die() { printf '[wine] error: %s\n' "$*" >&2; return 1; }

# Quietly run a Wine program (stdio detached so no caller pipe is held open).
qw_wine_quiet() { "$QW_WINE" "$@" </dev/null >/dev/null 2>&1; }

# Generate the locales privately (no root needed, no system change): zh_CN.UTF-8,
# in which Wine programs run with code page 936, and en_US.UTF-8, in which one
# window test runs with code page 1252. Without a locale on the Linux side Wine
# treats Unix strings as ASCII and file names beyond it fail to open.
QW_OTHER_LOCALE=en_US.UTF-8
qw_locale() {
    local name out tmp
    for name in "$QW_LOCALE" "$QW_OTHER_LOCALE"; do
        out=$QW_LOCALE_DIR/$name
        if [ ! -f "$out/LC_CTYPE" ]; then
            mkdir -p "$QW_LOCALE_DIR" || return 1
            tmp=$(mktemp -d "$QW_LOCALE_DIR/.gen.XXXXXX") || return 1
            # localedef exits 1 on mere warnings; judge by its output instead.
            localedef -i "${name%%.*}" -f UTF-8 "$tmp/$name" </dev/null >"$tmp.log" 2>&1
            if [ ! -f "$tmp/$name/LC_CTYPE" ]; then
                cat "$tmp.log" >&2
                rm -rf "$tmp" "$tmp.log"
                qw_die "localedef could not generate $name (is the Debian package 'locales' installed?)"
                return 1
            fi
            rm -rf "$out"
            mv "$tmp/$name" "$out" && rm -rf "$tmp" "$tmp.log" || return 1
        fi
        if [ "$(LOCPATH=$QW_LOCALE_DIR LC_ALL=$name locale charmap 2>/dev/null)" != UTF-8 ]; then
            qw_die "generated locale $out is not usable"
            return 1
        fi
    done
}

# Export the Wine environment for a build tree (absolute or relative to the repo).
qw_env() {
    local bdir=${1:?qw_env needs a build directory}
    case $bdir in /*) ;; *) bdir=$QUELLIN_ROOT/$bdir ;; esac
    mkdir -p "$bdir" || return 1
    bdir=$(cd "$bdir" && pwd)
    export QW_BUILD_DIR=$bdir
    export WINEPREFIX=$bdir/wineprefix
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES=$QW_DLLOVERRIDES
    export WINESERVER=$QW_WINESERVER
    export LOCPATH=$QW_LOCALE_DIR
    # bash itself cannot switch to the private locale (it warns); its children can.
    { export LC_ALL=$QW_LOCALE; } 2>/dev/null
    unset LANGUAGE
}

# The registry settings, as a .reg file in UTF-16LE with a byte order mark.
qw_write_reg() {
    local f=$1 face
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        # No window manager under Xvfb: Wine draws frames itself and does not wait for one.
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
        # A crash ends the program instead of waiting on a dialog.
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        for face in 宋体 SimSun 新宋体 NSimSun; do
            printf '"%s"="%s"\r\n' "$face" "$QW_SUBST_FONT"
        done
        printf '\r\n'
    } | { printf '\377\376'; iconv -f UTF-8 -t UTF-16LE; } >"$f"
}

# Check the settings in the saved registry (the server must have written it out).
qw_check_reg() {
    local reg=$WINEPREFIX/user.reg ok=0
    [ -f "$reg" ] || { qw_die "no $reg"; return 1; }
    # user.reg keeps non-ASCII names as \xNNNN escapes: 宋体 = \x5b8b\x4f53.
    grep -qiF '"\x5b8b\x4f53"="'"$QW_SUBST_FONT"'"' "$reg" || { qw_log "font replacement for 宋体 missing in user.reg"; ok=1; }
    grep -qF '"SimSun"="'"$QW_SUBST_FONT"'"' "$reg" || { qw_log "font replacement for SimSun missing in user.reg"; ok=1; }
    grep -qF '"Managed"="N"' "$reg" || { qw_log "X11 Driver Managed=N missing in user.reg"; ok=1; }
    grep -qF '"ShowCrashDialog"=dword:00000000' "$reg" || { qw_log "ShowCrashDialog=0 missing in user.reg"; ok=1; }
    return $ok
}

# Create the prefix once (a marker records a completed setup; a half-made prefix is
# removed and made again), then make sure fonts and registry settings are in place.
qw_prefix() {
    [ -n "${WINEPREFIX:-}" ] || { qw_die "qw_prefix: call qw_env first"; return 1; }
    local marker=$WINEPREFIX/.quellin-setup t0=$SECONDS
    if [ -f "$marker" ] && [ "$(cat "$marker")" = "$QW_PREFIX_STAMP" ] \
       && [ -f "$WINEPREFIX/system.reg" ]; then
        return 0
    fi
    if ! fc-list ":family=$QW_SUBST_FONT" family 2>/dev/null | grep -q .; then
        qw_log "warning: font '$QW_SUBST_FONT' not found by fontconfig (Debian package fonts-arphic-gbsn00lp); dialog sizes will differ from Windows"
    fi
    if [ ! -f "$marker" ]; then
        qw_log "creating Wine prefix $WINEPREFIX"
        "$QW_WINESERVER" -k >/dev/null 2>&1
        timeout 30 "$QW_WINESERVER" -w >/dev/null 2>&1
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX" || return 1
        # The settings below go in while this server is still up: one wait, not two.
        qw_wine_quiet wineboot -i
        [ -d "$WINEPREFIX/drive_c/windows/system32" ] \
            || { qw_die "wineboot did not create the prefix"; return 1; }
    else
        qw_log "updating Wine prefix settings in $WINEPREFIX"
    fi
    # Wine's own fonts (Marlett draws the caption buttons; without it they show as letters).
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    mkdir -p "$fonts"
    if compgen -G '/usr/share/wine/fonts/*.ttf' >/dev/null; then
        cp -f /usr/share/wine/fonts/*.ttf "$fonts/" || return 1
    else
        qw_log "warning: /usr/share/wine/fonts/*.ttf missing (Debian package fonts-wine)"
    fi
    # regedit reads C:\quellin.reg; success is judged from the saved registry below.
    qw_write_reg "$WINEPREFIX/drive_c/quellin.reg" || return 1
    qw_wine_quiet regedit /S 'C:\quellin.reg'
    # The registry reaches user.reg when the server ends (bounded: a persistent one never does).
    timeout 120 "$QW_WINESERVER" -w >/dev/null 2>&1
    qw_check_reg || { qw_die "registry settings did not take effect"; return 1; }
    printf '%s\n' "$QW_PREFIX_STAMP" >"$marker"
    qw_log "prefix ready ($((SECONDS - t0)) s)"
}

# Start a private Xvfb on a display number it picks itself; export DISPLAY.
qw_xvfb_start() {
    command -v Xvfb >/dev/null || { qw_die "Xvfb not installed (Debian package xvfb)"; return 1; }
    local fdfile log i
    mkdir -p "$QUELLIN_ROOT/build/logs"
    log=$QUELLIN_ROOT/build/logs/xvfb.log
    fdfile=$(mktemp) || return 1
    Xvfb -displayfd 9 -screen 0 "$QW_XVFB_SCREEN" -nolisten tcp -noreset 9>"$fdfile" </dev/null >"$log" 2>&1 &
    QW_XVFB_PID=$!
    for ((i = 0; i < 200; i++)); do
        [ -s "$fdfile" ] && break
        kill -0 "$QW_XVFB_PID" 2>/dev/null || break
        sleep 0.05
    done
    if [ ! -s "$fdfile" ]; then
        rm -f "$fdfile"
        cat "$log" >&2
        kill "$QW_XVFB_PID" 2>/dev/null
        QW_XVFB_PID=
        qw_die "Xvfb did not start"
        return 1
    fi
    DISPLAY=":$(tr -dc 0-9 <"$fdfile")"
    export DISPLAY
    rm -f "$fdfile"
    qw_log "Xvfb on $DISPLAY (pid $QW_XVFB_PID, $QW_XVFB_SCREEN)"
}

# The idle GUI program (tests/idle/quellin_idle.c, built with the Windows
# tests as quellin-idle.exe); built now if it is missing. Prints its path.
qw_idle_exe() {
    local exe=$QW_BUILD_DIR/quellin-idle.exe
    if [ ! -f "$exe" ]; then
        cmake --build "$QW_BUILD_DIR" --target quellin_idle </dev/null >/dev/null 2>&1 || return 1
    fi
    [ -f "$exe" ] && printf '%s\n' "$exe"
}

# A Unix path as Wine sees it on drive Z: (Wine maps Z: to /).
qw_winpath() { local p=$1; printf 'Z:%s\n' "${p//\//\\}"; }

# One wineserver for the whole session, Wine's services and desktop started with
# stdio on /dev/null (so they never hold a test's pipes), and the idle GUI process.
qw_server_start() {
    if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
        qw_die "qw_server_start: WINEPREFIX and DISPLAY must be set"
        return 1
    fi
    # A server still going down makes -p fail; one still in use would make -w wait forever.
    timeout 30 "$QW_WINESERVER" -w >/dev/null 2>&1
    if ! "$QW_WINESERVER" -p </dev/null >/dev/null 2>&1; then
        qw_die "wineserver -p failed: is another Wine program still running in $WINEPREFIX?"
        return 1
    fi
    QW_SERVER_STARTED=1
    qw_wine_quiet wineboot || { qw_die "wineboot failed"; return 1; }
    local idle ready=$QW_BUILD_DIR/quellin-idle.ready i
    if ! idle=$(qw_idle_exe); then
        qw_log "warning: no idle GUI process (quellin_idle did not build); the first GUI test may hold ctest's pipes"
        return 0
    fi
    rm -f "$ready"
    "$QW_WINE" "$idle" "$(qw_winpath "$ready")" </dev/null >/dev/null 2>&1 &
    QW_IDLE_PID=$!
    for ((i = 0; i < 600; i++)); do          # up to 30 s
        [ -s "$ready" ] && break
        kill -0 "$QW_IDLE_PID" 2>/dev/null || break
        sleep 0.05
    done
    if [ ! -s "$ready" ]; then
        qw_die "the idle Wine GUI process did not start (no desktop?)"
        return 1
    fi
    local units
    units=$(tr -dc '0-9 ' <"$ready")
    rm -f "$ready"
    if [ "$units" != "6 12 371 185" ]; then
        qw_log "WARNING: a 247 x 123 DLU dialog in 宋体 9 pt measures '$units' (base units x y, client w h);"
        qw_log "WARNING: expected '6 12 371 185': the font replacement is not in effect, window sizes will be off"
    fi
}

qw_teardown() {
    # The tests' fault file system, should a test run have left it mounted:
    # first, so that no Wine program is left waiting on one of its reads.
    if [ -n "${QW_BUILD_DIR:-}" ] && [ -s "$QW_BUILD_DIR/tests/wine/fault-fs/pid" ]; then
        sh "$QUELLIN_ROOT/tests/fuse/fault_fs.sh" unmount "$QW_BUILD_DIR/tests/wine/fault-fs"
    fi
    [ -n "$QW_IDLE_PID" ] && kill "$QW_IDLE_PID" 2>/dev/null
    if [ -n "$QW_SERVER_STARTED" ] && [ -n "${WINEPREFIX:-}" ]; then
        "$QW_WINESERVER" -k >/dev/null 2>&1     # ends every Wine process of the prefix
        timeout 10 "$QW_WINESERVER" -w >/dev/null 2>&1
        QW_SERVER_STARTED=
    fi
    if [ -n "$QW_IDLE_PID" ]; then
        wait "$QW_IDLE_PID" 2>/dev/null
        QW_IDLE_PID=
    fi
    if [ -n "$QW_XVFB_PID" ]; then
        kill "$QW_XVFB_PID" 2>/dev/null
        wait "$QW_XVFB_PID" 2>/dev/null
        QW_XVFB_PID=
    fi
}

# Tear down on any exit, including Ctrl-C and termination.
qw_install_trap() {
    trap qw_teardown EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}
