# A private X server for the bench scripts that run the manager, owned by the
# script that starts it (xvfb-run leaves its server running when it is itself
# ended by a signal). Sourced; the caller's EXIT trap calls stop_display, so
# the server ends on every exit path.
#
#   start_display FOLDER LOG   starts Xvfb, exports DISPLAY and XAUTHORITY;
#                              fails when the server does not come up
#   stop_display               ends it (nothing when none was started)

display_pid=""

start_display() {
    local folder=$1 log=$2 cookie number=""
    cookie=$(mcookie)
    # The server takes every cookie of its file, whatever display it names.
    export XAUTHORITY="$folder/Xauthority"
    xauth -q -f "$XAUTHORITY" add :0 . "$cookie" 2>>"$log"
    # -displayfd: the server picks a free display and writes its number once
    # it accepts clients.
    Xvfb -displayfd 5 -auth "$XAUTHORITY" -nolisten tcp -screen 0 1280x1024x24 \
        5>"$folder/display" 2>>"$log" &
    display_pid=$!
    until [[ -n $number ]]; do
        if ! kill -0 "$display_pid" 2>/dev/null; then
            display_pid=""
            echo "bench: Xvfb did not start (see $log)" >&2
            return 1
        fi
        sleep 0.05
        # The number is one line, whole once its newline is there.
        if [[ $(wc -l <"$folder/display") -ge 1 ]]; then read -r number <"$folder/display"; fi
    done
    xauth -q -f "$XAUTHORITY" add ":$number" . "$cookie" 2>>"$log"
    export DISPLAY=":$number"
}

stop_display() {
    [[ -n $display_pid ]] || return 0
    kill "$display_pid" 2>/dev/null || true
    wait "$display_pid" 2>/dev/null || true
    display_pid=""
}
