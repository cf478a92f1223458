# SPDX-License-Identifier: MIT
# Sourced by the scripts that drive a real window on an X display (Xvfb): waiting for a window
# and for the colour of its pixels, conditions rather than durations.

# The script's name in its messages.
me=$(basename "$0" .sh)

fail() {
    echo "$me: $*" >&2
    exit 1
}

# Runs the command until it succeeds, for three minutes at most (a program under valgrind or
# Wine starts slowly on a busy machine).
poll() {
    for _ in $(seq 1800); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Starts the command in the background, `panel` holding its process (ended with the script),
# and waits for a window whose name matches the pattern.
start() {
    "${@:2}" &
    panel=$!
    trap 'kill $panel 2>/dev/null || true' EXIT
    poll shown "$1" || fail "no window captioned $1"
}

# Ends the panel with SIGTERM, which must end it in order.
end() {
    kill -TERM "$panel"
    wait "$panel" || fail "the panel ended with status $?"
}

# The whole screen, cut down to the windows on it.
take() {
    import -window root png:- | convert - -trim +repage "$1"
    echo "screenshot: $1"
}

# Whether a window whose name matches the pattern is shown; `window` holds its id.
shown() {
    window=$(xdotool search --onlyvisible --name "$1" | head -1)
    [[ -n $window ]]
}

# Where the client area of `window` starts on the screen: left and top (xwininfo's; xdotool
# adds a window manager's frame to the position).
client_origin() {
    xwininfo -id "$window" | awk '/Absolute upper-left X/ { x = $NF }
        /Absolute upper-left Y/ { y = $NF } END { print x, y }'
}

# Whether the pixel at (x, y) of the client area has the colour; `seen` holds the one it has.
painted() {
    local left top
    read -r left top < <(client_origin)
    seen=$(import -window root -crop "1x1+$((left + $1))+$((top + $2))" -depth 8 txt:- |
        grep -o '#[0-9A-F]\{6\}')
    [[ $seen == "$3" ]]
}

# Presses at (x, y) of the client area and waits until that pixel has the colour.
press_until() {
    xdotool mousemove --window "$window" "$1" "$2" click 1
    poll painted "$1" "$2" "$3" || fail "($1, $2) stayed $seen, not $3"
}
