#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks of the Debian package that package.sh built: its menu entry and metainfo validated,
# its file list, icons, hardening and lintian's verdict; then installed (with apt-get when run
# as root where no selvane is installed yet, else unpacked into a throw-away root, so an
# operator's installed panel is never replaced or purged) and the installed launcher started on
# the installed simulated bus under Xvfb, where a press, and one by the installed
# selvane-switch, must turn their buttons green.
#   scripts/package-check.sh DEB
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/screen.sh

# On the display of the caller: the launcher started, A1 of the unit pressed, then an orderly
# end on SIGTERM.
if [[ ${1:-} == --press ]]; then
    start "^SELVANE V$3( \\(simulated bus\\))?\$" "$2"
    # The window belongs to its menu entry: its class is the entry's StartupWMClass.
    class=$(sed -n 's/^StartupWMClass=//p' packaging/com.talvern.selvane.desktop)
    [[ $(xprop -id "$window" WM_CLASS) == "WM_CLASS(STRING) = \"selvane\", \"$class\"" ]] \
        || fail "the window's class is not $class: $(xprop -id "$window" WM_CLASS)"
    press_until 14 41 '#00FF00' # beside its caption
    # A script's press through the installed client: B1 turns green on the screen.
    SELVANE_DEMO=1 "$(dirname "$2")/selvane-switch" 1B1 >/dev/null || fail "the installed selvane-switch ended with status $?"
    poll painted 86 41 '#00FF00' || fail "B1 stayed $seen after the script's press"
    end
    exit
fi

deb=$1
version=$(dpkg-deb -f "$deb" Version)
desktop-file-validate packaging/com.talvern.selvane.desktop
appstreamcli validate --no-net build/release/packaging/com.talvern.selvane.metainfo.xml >/dev/null
expected=$(printf '%s\n' usr/bin/selvane{,-demo,-prologix,-scan,-settings,-switch} \
    usr/lib/x86_64-linux-gnu/selvane/libgpib-{prologix,sim}.so \
    usr/share/applications/com.talvern.selvane.desktop usr/share/doc/selvane/{changelog.gz,copyright,README.md} \
    usr/share/doc/selvane/docs/{development,differences,driver,reliability,scpi,scripting,settings,tools,windows}.md \
    usr/share/doc/selvane/docs/{configuration,edit-mode,lock-mode,no-instrument,unit-count,windows-main-window}.png \
    usr/share/icons/hicolor/{32x32,48x48,64x64,128x128,256x256}/apps/com.talvern.selvane.png \
    usr/share/icons/hicolor/scalable/apps/com.talvern.selvane.svg \
    usr/share/man/man1/selvane{,-demo,-prologix,-scan,-settings,-switch}.1.gz \
    usr/share/metainfo/com.talvern.selvane.metainfo.xml | sort)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)
[[ $files == "$expected" ]] || fail "the package holds other files: $(diff <(echo "$expected") <(echo "$files"))"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks Qt: $(dpkg-deb -f "$deb" Depends)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg -x "$deb" "$work/root"
! grep -rl 'talvern\.example' "$work/root/usr/share/metainfo" "$work/root/usr/share/doc" \
    || fail "a link to the reserved talvern.example (SELVANE_HOMEPAGE is a packager's own)"
for size in 48 64 128 256; do
    icon=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/com.talvern.selvane.png
    [[ $(identify -format %wx%h "$icon") == "${size}x$size" ]] || fail "the ${size}-pixel icon is $(identify -format %wx%h "$icon")"
done
for program in selvane selvane-scan selvane-settings selvane-switch; do
    hardening-check --quiet --nocfprotection "$work/root/usr/bin/$program" || fail "$program is not hardened: $(hardening-check "$work/root/usr/bin/$program")"
done
echo "the programs are hardened (PIE, stack protector, fortified calls, RELRO and BIND_NOW)"
verdict=$(lintian --pedantic "$deb" || true)
echo "${verdict:-lintian: no remarks}"
grep -q '^E:' <<<"$verdict" && fail "lintian reports errors"

installed=$(dpkg-query -W -f='${Status}' selvane 2>/dev/null || true)
if [[ $(id -u) -eq 0 && $installed != "install ok installed" ]]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
    trap 'dpkg --purge selvane >/dev/null; rm -rf "$work"' EXIT
    launcher=/usr/bin/selvane-demo
else
    # Not root, or the panel is installed here already: an operator's panel is never
    # replaced or purged by a check.
    [[ $installed == "install ok installed" ]] && echo "== package: selvane is installed here; checked unpacked instead"
    launcher=$work/root/usr/bin/selvane-demo
fi
echo "== package: $launcher, on the installed simulated bus"
# Settings for the demo alone (SELVANE_DEMO=1, which the launcher sets): with none, the panel
# would ask for its unit count.
mkdir -p "$work/config/selvane"
scripts/seed_registry.py "$work/config/selvane/demo.sqlite3" SELVANE Units=1 X=300 Y=300
unset SELVANE_REGISTRY SELVANE_DEMO
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
bin=$(dirname "$launcher")
found=$(SELVANE_GPIB_LIBRARY=$bin/../lib/x86_64-linux-gnu/selvane/libgpib-sim.so SELVANE_SIM_DEVICES="0:7:0 0:12:0" \
    "$bin/selvane-scan" 2>&1) || fail "the installed selvane-scan failed: $found"
[[ $found == $'0:7:0\n0:12:0' ]] || fail "the installed selvane-scan found: $found"
listed=$(SELVANE_DEMO=1 "$bin/selvane-settings" list) || fail "the installed selvane-settings failed"
[[ $listed == $'""\t1 unit\tthe default instance (selvane started without a name)' ]] || fail "the installed selvane-settings listed: $listed"
echo "the installed tools scanned the simulated bus and listed the stored instance"
xvfb-run -a -s "-noreset -screen 0 640x480x24 -dpi 96" "$0" --press "$launcher" "$version"
[[ ! -e $work/config/selvane/registry.sqlite3 ]] || fail "the demo wrote the panel's own settings file"
echo "the installed panel started, and a press and a script's press turned their buttons green"
