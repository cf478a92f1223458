#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks of the Windows packages that windows-app.sh built (build/windows-app/package/
# selvane-VERSION-win64.msi and .zip, and the MSI of version NEXT for the upgrade): their
# programs' version resources, and each used under Wine as a Windows user uses them: the MSI installed silently,
# the panel started from its Start-menu shortcuts and pressed on the screen's pixels, upgraded
# by a package one patch version later, and removed; then the same from the zip unpacked
# into a folder whose path has a blank and a non-ASCII letter. The settings survive all of it.
#   scripts/windows-package.sh VERSION NEXT
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/screen.sh
source scripts/wine.sh

build=build/windows-app
version=$1 next=$2
msi=$build/package/selvane-$version-win64.msi
next_msi=build/windows-next/package/selvane-$next-win64.msi
zip=$build/package/selvane-$version-win64.zip
root='HKLM\SOFTWARE\Talvern Software'
key="$root\\SELVANE"
demo_key='HKCU\SOFTWARE\Talvern Software\SELVANE' # the demo's own (SELVANE_DEMO=1)
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# A version resource's field of a program, as Explorer shows it (each name, after its
# lengths, is followed by its value).
resource() {
    wrestool -x --raw -t 16 "$1" | iconv -f UTF-16LE -t UTF-8 -c | tr -s '\0' '\n' |
        grep -a -A1 "$2\$" | sed -n 2p
}

# The settings, as the operator's backup would keep them; fails when there are none.
settings() {
    wine reg export "$root" "$1" /reg:32 /y >/dev/null
}

# The entries of Add or remove programs named SELVANE, as "version code" lines.
entries() {
    wine reg query "$uninstall" /s /reg:64 | tr -d '\r' | awk '
        /^HKEY_/ { code = $0; sub(/.*\\/, "", code) }
        $1 == "DisplayName" && $3 == "SELVANE" { named[code] = 1 }
        $1 == "DisplayVersion" { shown[code] = $3 }
        END { for (c in named) print shown[c], c }'
}

# The panel from folder $1 on the simulated bus, started as the shortcut starts it (command $2
# on), pressed at A2 and B1 of the first unit, at A1 by the shipped selvane-switch.exe, and
# closed as Windows closes a program, its settings saved in the demo's key and none of the
# bench's changed; then the plain panel, which finds no NI driver in Wine and says so.
use_panel() {
    local folder=$1 unix
    unix=$(winepath -u "$folder")
    settings "$work/bench.reg"
    start '^SELVANE V[0-9.]+( \(simulated bus\))?$' "${@:2}"
    press_until 38 57 '#00FF00'
    press_until 110 41 '#00FF00'
    SELVANE_DEMO=1 wine "$folder\\selvane-switch.exe" 1A1 >/dev/null || fail "the shipped selvane-switch.exe ended with status $?"
    poll painted 14 41 '#00FF00' || fail "A1 stayed $seen after the script's press" # beside its caption
    wine taskkill /im selvane.exe >/dev/null
    wait "$panel" || fail "the panel on the simulated bus ended with status $?"
    wine reg query "$demo_key" /reg:32 /v X >/dev/null || fail "the close saved nothing in $demo_key"
    settings "$work/bench-after.reg"
    cmp -s "$work/bench.reg" "$work/bench-after.reg" || fail "the demo changed the bench's settings"
    # The plain panel, from its working folder as the shortcut has it.
    (cd "$unix" && exec wine selvane.exe 2>"$work/stderr") &
    panel=$!
    poll shown '^SELVANE$' || fail "no missing-driver message from the panel in $folder"
    # Return until the panel has ended: the box may get the focus only after it is shown.
    dismissed() { xdotool key Return; ! kill -0 "$panel" 2>/dev/null; }
    poll dismissed || fail "the missing-driver message in $folder could not be closed"
    local status=0
    wait "$panel" || status=$?
    [[ $status -eq 2 ]] || fail "the panel without a driver ended with status $status, not 2"
    grep -q 'File not found: ni4882.dll' "$work/stderr" || fail "stderr: $(cat "$work/stderr")"
}

on_display() {
    work=$WINEPREFIX/checks # removed with the prefix, whatever ends the script
    mkdir "$work"
    local programs='C:\Program Files\SELVANE' lnk
    # Install, silently, as IT departments deploy.
    wine msiexec /i "$(winepath -w "$msi")" /qn || fail "msiexec /i ended with status $?"
    (cd "$(winepath -u "$programs")" && find . -type f | sort) >"$work/installed"
    (cd "$build/packaging/windows/SELVANE" && find . -type f | sort) | cmp -s - "$work/installed" ||
        fail "installed: $(tr '\n' ' ' <"$work/installed")"
    for dll in gpib-sim gpib-prologix; do
        grep -qx "./$dll.dll" "$work/installed" || fail "no $dll.dll installed"
    done
    # The simulated bus's entry last: the panel below is started from it.
    for entry in 'SELVANE=selvane' 'SELVANE (Prologix or AR488 adapter)=selvane-prologix' \
            'SELVANE (simulated bus)=selvane-demo'; do
        lnk=$(find "$WINEPREFIX/drive_c" -path "*/Start Menu/Programs/${entry%=*}.lnk" | head -1)
        [[ -n $lnk ]] || fail "no Start-menu entry \"${entry%=*}\""
        # A shell link holds its target in the code page, its working folder in UTF-16.
        strings "$lnk" | grep -qxF "$programs\\${entry#*=}.exe" || fail "$lnk starts another program"
        strings -el "$lnk" | grep -qxF "$programs\\" || fail "$lnk starts in another folder"
    done
    [[ $(entries) == "$version {"* && $(entries | wc -l) -eq 1 ]] || fail "uninstall entries: $(entries)"
    wine reg query "$uninstall\\$(entries | cut -d' ' -f2)" /reg:64 | tr -d '\r' |
        grep -q 'Publisher *REG_SZ *Talvern Software' || fail "the uninstall entry names no publisher"
    settings "$work/empty.reg" || fail "the installer made no settings root key"

    # Three units, stored as another program stores them, for the bench and for the demo; the
    # demo from the shortcut.
    for stored in "$key" "$demo_key"; do
        wine reg add "$stored" /reg:32 /f /v Units /t REG_DWORD /d 3 >/dev/null &&
            wine reg add "$stored" /reg:32 /f /v 1.A2.label /t REG_SZ /d Prüfling >/dev/null ||
            fail "reg add ended with status $?"
    done
    use_panel "$programs" wine start /wait "$(winepath -w "$lnk")"

    # A later version over this one: its files, the same settings, one entry.
    settings "$work/before.reg"
    wine msiexec /i "$(winepath -w "$next_msi")" /qn || fail "the upgrade ended with status $?"
    [[ $(resource "$(winepath -u "$programs")/selvane.exe" FileVersion) == "$next" ]] ||
        fail "the upgrade left selvane.exe at version $version"
    [[ $(entries) == "$next {"* && $(entries | wc -l) -eq 1 ]] || fail "after the upgrade: $(entries)"
    settings "$work/after.reg"
    cmp -s "$work/before.reg" "$work/after.reg" || fail "the upgrade changed the settings"

    # Removed, silently: no file, shortcut or entry left, the settings as they were.
    wine msiexec /x "$(winepath -w "$next_msi")" /qn || fail "msiexec /x ended with status $?"
    [[ ! -e $(winepath -u "$programs") ]] || fail "the uninstall left $programs"
    [[ -z $(find "$WINEPREFIX/drive_c" -name 'SELVANE*.lnk') && -z $(entries) ]] ||
        fail "the uninstall left a shortcut or its entry"
    settings "$work/removed.reg"
    cmp -s "$work/after.reg" "$work/removed.reg" || fail "the uninstall changed the settings"

    # The zip, unpacked where a user without admin rights may keep it.
    local unpacked='C:\Mess Platz\Prüfstand'
    mkdir -p "$(winepath -u "$unpacked")"
    cmake -E chdir "$(winepath -u "$unpacked")" cmake -E tar xf "$top/$zip"
    use_panel "$unpacked\\SELVANE" wine "$unpacked\\SELVANE\\selvane-demo.exe"
}

if [[ ${3:-} == --on-display ]]; then # on the display and in the prefix of the caller
    on_display
    exit
fi

echo "== windows-package: the programs' version resources"
for program in selvane selvane-demo selvane-prologix selvane-scan selvane-settings selvane-switch; do
    file=$build/packaging/windows/SELVANE/$program.exe
    for field in "FileVersion=$version" "ProductVersion=$version" "CompanyName=Talvern Software" \
            "ProductName=SELVANE" "OriginalFilename=$program.exe" "FileDescription=SELVANE *" \
            "LegalCopyright=Copyright 2026 Talvern Software*"; do
        # shellcheck disable=SC2053 # the expected text is a pattern
        [[ $(resource "$file" "${field%%=*}") == ${field#*=} ]] ||
            fail "$program.exe: ${field%%=*} is \"$(resource "$file" "${field%%=*}")\""
    done
    wrestool -l "$file" | grep -q 'type=group_icon' || fail "$program.exe carries no icon"
done
# The root key's access for the machine's users (Wine runs everyone as admin, so it is read
# back from the package): read, write and delete below it, inherited by every instance's key.
msiinfo export "$msi" MsiLockPermissionsEx | grep -q $'SettingsRoot\tRegistry\t.*(A;CI;0x3003f;;;BU)' ||
    fail "the MSI gives the machine's users no write access to the settings"

echo "== windows-package: installed, used, upgraded and removed under Wine"
export WINEDLLOVERRIDES=winemenubuilder.exe=d # or Wine puts the shortcuts in the host's menu
throwaway_prefix
on_screen "$0" "$version" "$next" --on-display
echo "the MSI installed, upgraded and removed silently with the settings kept; the zip ran from a folder of its own"
