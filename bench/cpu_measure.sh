# Shared by the CPU benchmark scripts (sourced, not run): measuring a process
# from /proc, a display of its own, and cleaning up whatever was started.
# The caller sets `settle` (seconds before measuring) and keeps the process
# ids it starts in `children`.

children=()
work=$(mktemp -d)
cleanup() {
    local pid
    for pid in "${children[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

ticks=$(getconf CLK_TCK)

# utime + stime of a process in clock ticks; empty once it is gone.
cpu_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    # Fields after the command name, which may hold spaces.
    set -- ${stat##*) }
    echo $((${12} + ${13}))
}

# Context switches of a process: all its threads' (voluntary and not), then
# its main thread's voluntary ones, which are its wake-ups from sleep.
context_switches() {
    local all=0 main=0 file key value
    for file in /proc/"$1"/task/*/status; do
        while read -r key value; do
            case $key in
            voluntary_ctxt_switches: | nonvoluntary_ctxt_switches:) all=$((all + value)) ;;
            esac
        done 2>/dev/null <"$file" || true
    done
    main=$(awk '/^voluntary_ctxt_switches:/ { print $2 }' "/proc/$1/task/$1/status" 2>/dev/null || true)
    echo "$all ${main:-0}"
}

# Lets process $1 settle, then measures it for $2 seconds (or until it ends,
# if sooner). Prints the clock ticks it used, the seconds that passed, and
# its context switches over them: all threads', the main thread's wake-ups.
measure() {
    local pid=$1 length=$2 start_ticks start_time now_ticks last_ticks last_time end
    local start_all start_main last_all last_main _ all main before
    sleep "$settle"
    # Start-up can keep a main thread busy for seconds longer on a loaded
    # machine (the program's sound player probes for a display device):
    # wait, up to 15 s, until its main thread wakes under 200 times a second.
    for _ in $(seq 30); do
        read -r all before < <(context_switches "$pid")
        sleep 0.5
        read -r all main < <(context_switches "$pid")
        [ $((main - before)) -ge 100 ] || break
    done
    start_ticks=$(cpu_ticks "$pid")
    [ -n "$start_ticks" ] || { echo "process $pid ended early" >&2; return 1; }
    read -r start_all start_main < <(context_switches "$pid")
    start_time=$(date +%s.%N)
    last_ticks=$start_ticks last_time=$start_time last_all=$start_all last_main=$start_main
    end=$(echo "$start_time + $length" | bc -l)
    while [ "$(echo "$(date +%s.%N) < $end" | bc)" = 1 ]; do
        sleep 0.5
        now_ticks=$(cpu_ticks "$pid")
        [ -n "$now_ticks" ] || break
        read -r last_all last_main < <(context_switches "$pid")
        last_ticks=$now_ticks
        last_time=$(date +%s.%N)
    done
    echo "$((last_ticks - start_ticks)) $(echo "$last_time - $start_time" | bc -l)" \
        "$((last_all - start_all)) $((last_main - start_main))"
}

stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# Starts an Xvfb of its own and sets `display` to its number.
start_xvfb() {
    display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    children+=("$!")
    local _
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$display" ] && return 0
        sleep 0.1
    done
    echo "Xvfb :$display did not start" >&2
    return 1
}

# Writes a settings file for the program into home $1: camera $2, filter and
# kernel (combo indices) $3 and $4.
program_settings() {
    mkdir -p "$1/config/Kelvane"
    cat >"$1/config/Kelvane/Orvella.conf" <<EOF
[General]
camera=$2
filter=$3
kernel=$4
EOF
}

# Totals per case over every round: clock ticks, seconds, context switches.
declare -A used=() spent=() switched=() woken=()
add() {
    local t s c m
    read -r t s c m <<<"$2"
    [ -n "$s" ] || { echo "no figure for $1" >&2; exit 1; }
    used[$1]=$((${used[$1]:-0} + t))
    spent[$1]=$(echo "${spent[$1]:-0} + $s" | bc -l)
    switched[$1]=$((${switched[$1]:-0} + ${c:-0}))
    woken[$1]=$((${woken[$1]:-0} + ${m:-0}))
}
# Percent of one core, context switches a second (all threads), and the main
# thread's wake-ups a second, of a case over all its rounds.
percent() { echo "scale=2; 100 * ${used[$1]} / $ticks / ${spent[$1]}" | bc -l; }
switches() { echo "scale=0; ${switched[$1]} / ${spent[$1]}" | bc -l; }
wakeups() { echo "scale=1; ${woken[$1]} / ${spent[$1]}" | bc -l; }
ratio() { echo "scale=2; $1 / $2" | bc; }
