# The set-up the tools share: Debian packages, an Xvfb display of their own,
# a Wine prefix with the project's settings, and screenshots of a window.
# Sourced, never run:  source "$repo/tools/lib/setup.sh"
# Every name it defines begins with keymend_ or KEYMEND_.

# Packages, by what needs them.
KEYMEND_PACKAGES_HOST=(cmake g++ make googletest libgtest-dev libbenchmark-dev)
KEYMEND_PACKAGES_WINDOWS=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools)
KEYMEND_PACKAGES_WINE=(wine wine64 xvfb x11-utils xdotool imagemagick fonts-ipafont-gothic fonts-wine)

keymend_say() { printf '== %s\n' "$*"; }

# keymend_install_packages PACKAGE...: installs those that are missing, with
# apt-get update first only then; as root, through sudo without a password,
# or through sudo at a terminal. Fails when it cannot.
keymend_install_packages() {
    local missing=() package
    for package in "$@"; do
        if [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    keymend_say "installing: ${missing[*]}"
    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            as_root=(sudo -n)
        elif command -v sudo >/dev/null && [ -t 0 ]; then
            as_root=(sudo)
        else
            echo "missing packages (${missing[*]}); run as root to install them" >&2
            return 1
        fi
    fi
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null &&
        "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" \
            </dev/null
}

# keymend_start_xvfb LOG [WxHxD]: an Xvfb of its own, on a display it picks
# itself; exports DISPLAY and sets KEYMEND_XVFB_PID. keymend_stop_xvfb ends it.
keymend_start_xvfb() {
    local log=$1 screen=${2:-1280x1024x24} number waited=0
    number=$(mktemp "${TMPDIR:-/tmp}/keymend-xvfb.XXXXXX")
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$number" >"$log" 2>&1 </dev/null &
    KEYMEND_XVFB_PID=$!
    until grep -q '[0-9]' "$number" 2>/dev/null; do
        if ! kill -0 "$KEYMEND_XVFB_PID" 2>/dev/null || [ "$waited" -ge 100 ]; then
            echo "Xvfb did not start; see $log" >&2
            rm -f "$number"
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    DISPLAY=":$(tr -dc 0-9 <"$number")"
    export DISPLAY
    rm -f "$number"
}

keymend_stop_xvfb() {
    if [ -n "${KEYMEND_XVFB_PID:-}" ]; then
        kill "$KEYMEND_XVFB_PID" 2>/dev/null
        wait "$KEYMEND_XVFB_PID" 2>/dev/null
        KEYMEND_XVFB_PID=""
    fi
    return 0
}

# keymend_wine_environment PREFIX: every Wine program from here on runs in
# PREFIX, 64-bit, quiet, without the .NET and HTML installers.
keymend_wine_environment() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    unset WINESERVER WINELOADER 2>/dev/null || true
}

# A Wine program whose service processes must not keep this shell's output.
keymend_quiet() { "$@" >/dev/null 2>&1 </dev/null; }

# keymend_new_prefix [--unmanaged] [--desktop WxH] [--fonts]: makes the
# prefix of keymend_wine_environment anew. A crash then ends at once with
# exit code 5 instead of waiting in winedbg. --unmanaged: windows close
# without Wine's wait for a window manager; --desktop: a virtual desktop of
# that size, which draws title bars without one; --fonts: Wine's Tahoma and
# Marlett and the IPA Gothic fonts, as the screenshots show them.
keymend_new_prefix() {
    local unmanaged="" desktop="" fonts=""
    while [ $# -gt 0 ]; do
        case $1 in
        --unmanaged) unmanaged=1 ;;
        --desktop) desktop=$2; shift ;;
        --fonts) fonts=1 ;;
        *) echo "keymend_new_prefix: unknown option $1" >&2; return 2 ;;
        esac
        shift
    done
    [ -n "${WINEPREFIX:-}" ] || { echo "keymend_new_prefix: no WINEPREFIX" >&2; return 2; }
    rm -rf "$WINEPREFIX"
    DISPLAY='' keymend_quiet wineboot -i || true
    keymend_quiet wineserver -w
    keymend_quiet wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /t REG_SZ /d '' /f
    if [ -n "$unmanaged" ]; then
        keymend_quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
    fi
    if [ -n "$desktop" ]; then
        keymend_quiet wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f
        keymend_quiet wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ \
            /d "$desktop" /f
    fi
    if [ -n "$fonts" ]; then
        cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
            /usr/share/wine/fonts/marlett.ttf /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf \
            /usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    keymend_quiet wineserver -w
}

# keymend_link_fonts [LOCALE]: Japanese text in Tahoma, the dialogs' font,
# and in MS UI Gothic, a Japanese system's; Wine rewrites font links when a
# process starts under another code page, so this comes last before a start.
keymend_link_fonts() {
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    keymend_quiet env LC_ALL="${1:-${LC_ALL:-en_US.UTF-8}}" wine reg add "$key" /v Tahoma \
        /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f
    keymend_quiet env LC_ALL="${1:-${LC_ALL:-en_US.UTF-8}}" wine reg add "$key" /v 'MS UI Gothic' \
        /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f
}

# keymend_shoot PNG "LEFT TOP WIDTH HEIGHT": the screen, once two shots in a
# row agree (the window has painted), cut to that rectangle with a margin.
keymend_shoot() {
    local png=$1 margin=12 previous="" sum shot left top width height
    shot=$(mktemp "${TMPDIR:-/tmp}/keymend-shot.XXXXXX.png")
    read -r left top width height <<<"$2"
    for _ in $(seq 20); do
        sleep 0.3
        import -window root "$shot"
        sum=$(convert "$shot" rgb:- | md5sum)
        [ "$sum" = "$previous" ] && break
        previous=$sum
    done
    convert "$shot" -crop "$((width + 2 * margin))x$((height + 2 * margin))+$((left - margin))+$((top - margin))" \
        +repage "$png"
    rm -f "$shot"
}
