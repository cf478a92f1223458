#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks of the Windows program that windows-app.sh built, on the display and in the Wine
# prefix of the caller.
#   scripts/windows-panel.sh SCREENSHOT
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/screen.sh

# The panel as the operator starts it, on the simulated bus loaded under NI's name from beside
# the program, with three units stored as another program stores them; A2 and B1 of the
# first unit pressed, each press waited for on the screen's pixels, and B2 pressed by a
# script through selvane-switch.exe; then closed as Windows closes a program, which saves;
# and the tools run beside it.
run_panel() {
    local out=$1 key='HKLM\SOFTWARE\Talvern Software\SELVANE - Bench'
    for value in Units=3 X=300 Y=300 2.PAd=8 3.PAd=9; do
        wine reg add "$key" /reg:32 /f /v "${value%=*}" /t REG_DWORD /d "${value#*=}" >/dev/null ||
            fail "reg add of ${value%=*} ended with status $?"
    done
    for value in 1.A.title=Input 1.B.title=Output 1.A1.label=Antenna 1.A2.label=Prüfling \
            1.B1.label=Analyser 1.B2.label=Meter 1.B3.label= 1.B4.label=; do
        wine reg add "$key" /reg:32 /f /v "${value%%=*}" /t REG_SZ /d "${value#*=}" >/dev/null ||
            fail "reg add of ${value%%=*} ended with status $?"
    done
    start '^SELVANE V[0-9.]+ - Bench$' \
        env SELVANE_SIM_DEVICES="0:7:0 0:8:0" wine build/windows-app/bin/selvane.exe Bench
    press_until 38 57 '#00FF00'
    press_until 110 41 '#00FF00'
    # A script's press, by B2's label, through the named pipe of the instance.
    local answer
    answer=$(wine build/windows-app/bin/selvane-switch.exe --instance Bench 1B=Meter) ||
        fail "selvane-switch.exe ended with status $?: $answer"
    [[ $answer == *'"ok":true'*'"position":"B2"'* ]] || fail "selvane-switch.exe answered: $answer"
    poll painted 86 57 '#00FF00' || fail "B2 stayed $seen after the script's press" # beside Meter
    xdotool mousemove 0 0
    poll painted 38 57 '#00FF00' || fail "(38, 57) stayed $seen" # the pointer's highlight gone
    take "$out"
    wine taskkill /im selvane.exe >/dev/null || fail "taskkill ended with status $?"
    wait "$panel" || fail "the panel ended with status $?"
    # reg query prints in the console's code page; an export file is UTF-16.
    wine reg export "$key" "$out.reg" /reg:32 /y >/dev/null || fail "reg export ended with status $?"
    iconv -f UTF-16 -t UTF-8 "$out.reg" | grep -q '^"1.A2.label"="Prüfling"' \
        || fail "the label did not survive the close"
    # The tools on the same registry and bus: their export is the registry's own, byte for
    # byte, and the scan finds both instruments.
    wine build/windows-app/bin/selvane-settings.exe export Bench -o "$out.tool.reg" ||
        fail "selvane-settings.exe export ended with status $?"
    cmp -s "$out.reg" "$out.tool.reg" || fail "selvane-settings exported otherwise than reg export"
    found=$(SELVANE_SIM_DEVICES="0:7:0 0:8:0" wine build/windows-app/bin/selvane-scan.exe | tr -d '\r')
    [[ $found == $'0:7:0\n0:8:0' ]] || fail "selvane-scan.exe found: $found"
    rm "$out.reg" "$out.tool.reg"
}

run_panel "$1"
