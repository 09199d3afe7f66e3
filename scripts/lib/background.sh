# shellcheck shell=bash
# Shared by the scripts that run the demo server (and Xvfb) beside the updater: a work
# folder and background processes that end with the script. Source it, then call
#     make_work_folder PREFIX               # sets work_folder; removed at exit
#     start_server PORT_FILE PROGRAM ARG... # sets server_port once PORT_FILE is written
#     start_xvfb_unless_display             # sets DISPLAY when there is none
# Call them directly, not in $( ): they set variables and keep the processes' ids. The
# output of a background process goes where the call's own output goes.

background_pids=()
work_folder=""

stop_background() {
    local pid
    for pid in "${background_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -z "$work_folder" ] || rm -rf "$work_folder"
}

make_work_folder() {
    work_folder=$(mktemp -d "/tmp/$1.XXXXXX")
    trap stop_background EXIT
}

# Waits up to SECONDS for FILE to hold something; non-zero when it does not by then.
wait_for_file() {
    local file=$1 seconds=$2 _
    for _ in $(seq $((seconds * 10))); do
        [ -s "$file" ] && return 0
        sleep 0.1
    done
    return 1
}

start_server() {
    local port_file=$1
    shift
    "$@" --port-file "$port_file" &
    background_pids+=($!)
    if ! wait_for_file "$port_file" 10; then
        echo "$1 wrote no port file within 10 seconds" >&2
        return 1
    fi
    # shellcheck disable=SC2034 # for the caller
    server_port=$(cat "$port_file")
}

start_xvfb_unless_display() {
    [ -z "${DISPLAY:-}" ] || return 0
    # Xvfb writes its display number to descriptor 3 once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work_folder/display" >/dev/null 2>&1 &
    background_pids+=($!)
    if ! wait_for_file "$work_folder/display" 20; then
        echo "Xvfb named no display within 20 seconds" >&2
        return 1
    fi
    DISPLAY=:$(head -1 "$work_folder/display")
    export DISPLAY
}
