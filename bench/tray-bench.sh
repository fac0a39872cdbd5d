#!/usr/bin/env bash
# The tray program's costs, measured beside the baseline (build/bench/kairelon-tray-baseline, an
# empty Qt Widgets program with a tray icon) in the same run, on a virtual display (Xvfb) with
# a notification area (trayer):
#   start-up   from the start of the program to its icon shown in the notification area (the
#              splash of kairelon shows at the same time and is not waited for)
#   idle       processor time of all the program's threads over IDLE seconds with nothing to
#              do (kairelon: a server configured, no interval or fixed-time run due)
#   memory     resident memory (VmRSS) after the idle span
#   animation  kairelon's processor time while its dialog is shown (the plasma strip runs),
#              as a share of one core over ANIMATION seconds; the dialog is opened by a double
#              click on the icon, as a user does, and closed with Escape
# Usage: bench/tray-bench.sh [BUILD_DIR] [IDLE_SECONDS] [ANIMATION_SECONDS] [TRAY]
# (defaults: build, 60, 20, xembed). Needs Xvfb, trayer, xdotool and xwininfo (x11-utils).
# TRAY=statusnotifier measures on a StatusNotifier host instead of trayer (the panel of KDE,
# of GNOME with AppIndicator, of Wayland sessions): tests/e2e/status_notifier_host.py on a
# session bus of its own (dbus-daemon, python3-dbus, python3-gi); start-up then ends when the
# item has registered with the host, and the dialog is opened by the host's Activate.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
idle=${2:-60}
animation=${3:-20}
tray=${4:-xembed}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
case "$tray" in
xembed) tools="Xvfb trayer xdotool xwininfo" ;;
statusnotifier) tools="Xvfb xdotool xwininfo dbus-daemon" ;;
*) echo "tray-bench: TRAY is xembed or statusnotifier" >&2; exit 2 ;;
esac
for tool in $tools; do
    command -v "$tool" >/dev/null || { echo "tray-bench: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number the X server picks itself.
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n 1 "$work/display")"
panel=""
if [ "$tray" = xembed ]; then
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        --transparent false >"$work/trayer.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do
        panel=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')
        [ -n "$panel" ] && break
        sleep 0.05
    done
    [ -n "$panel" ] || { echo "tray-bench: trayer did not come up" >&2; exit 1; }
else
    dbus-daemon --session --address="unix:path=$work/bus" --nofork >"$work/bus.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -S "$work/bus" ] && break; sleep 0.05; done
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
    mkfifo -m 600 "$work/host.in"
    python=/usr/bin/python3
    [ -x "$python" ] || python=$(command -v python3)
    "$python" "$source_dir/tests/e2e/status_notifier_host.py" <"$work/host.in" >"$work/host.out" \
        2>&1 &
    pids+=($!)
    exec 3>"$work/host.in"
    for _ in $(seq 200); do grep -q '^ready' "$work/host.out" && break; sleep 0.05; done
    grep -q '^ready' "$work/host.out" || { echo "tray-bench: no StatusNotifier host" >&2; exit 1; }
fi

now_ns() { date +%s%N; }
# The window of the program's icon inside the notification area, once it is shown there; on a
# StatusNotifier host, the number of items registered so far once it has grown to $1.
registered() { grep -c '^registered ' "$work/host.out" || true; }
icon_window() {
    if [ "$tray" = statusnotifier ]; then
        [ "$(registered)" -ge "$items_expected" ] && echo item
        return
    fi
    local id
    id=$(xwininfo -tree -id "$panel" | awk -v c="(\"$1\"" 'index($0, c) {print $1; exit}')
    [ -n "$id" ] && xwininfo -id "$id" | grep -q "IsViewable" && echo "$id"
}
# Processor time of the whole process in nanoseconds: user and system time from /proc/PID/stat,
# which keeps the time of threads that have ended (a sum over the live threads' schedstat
# loses it and can go backwards); its unit is the clock tick (10 ms at 100 Hz).
tick_ns=$((1000000000 / $(getconf CLK_TCK)))
cpu_ns() { sed 's/.*) //' /proc/"$1"/stat | awk -v t="$tick_ns" '{print ($12 + $13) * t}'; }
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }

# Starts a program in the background and waits for its icon; sets $started (pid), $icon (window)
# and $startup_ms.
start_program() {
    local class=$1 log=$2
    shift 2
    local t0 t1
    items_expected=$(( $(registered 2>/dev/null || echo 0) + 1 ))
    t0=$(now_ns)
    "$@" >"$log" 2>&1 &
    started=$!
    pids+=("$started")
    icon=""
    for _ in $(seq 2000); do
        icon=$(icon_window "$class") && break
        kill -0 "$started" 2>/dev/null || { echo "tray-bench: $class ended" >&2; cat "$log" >&2; exit 1; }
        sleep 0.002
    done
    t1=$(now_ns)
    [ -n "$icon" ] || { echo "tray-bench: no icon of $class" >&2; exit 1; }
    startup_ms=$(( (t1 - t0) / 1000000 ))
}

# kairelon's settings: a server on a loopback port (the bundled daytime server), the list of
# servers with it, no interval run, the protocol on standard output.
mkdir -p "$work/registry" "$work/config" "$work/state"
"$build/src/kairelon-daytimed" --bind 127.0.0.1 --port 0 >"$work/daytimed" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "serving on" "$work/daytimed" && break; sleep 0.05; done
server=$(sed -n 's/.*serving on //p' "$work/daytimed")
printf '%s\r\n' "$server" >"$work/registry/server.ini"
printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n"CurrentServer"="%s"\r\n%s\r\n%s\r\n' \
    '[HKEY_CURRENT_USER\Software\Quarnel Developments\Kairel]' "$server" \
    '"SyncModus"=dword:00000002' '"Intervall"=dword:00000000' >"$work/registry/user.reg"
export KAIRELON_REGISTRY_DIR="$work/registry" XDG_CONFIG_HOME="$work/config" \
    XDG_STATE_HOME="$work/state" KAIRELON_DIALUP_BUS="unix:path=/nonexistent/kairelon-bench"

# Start-up, one program at a time so that neither waits for the other's processor.
start_program kairelon-tray-baseline "$work/baseline.log" "$build/bench/kairelon-tray-baseline"
base_pid=$started base_startup=$startup_ms
start_program kairelon "$work/kairelon.log" "$build/src/kairelon" --dry-run
kai_pid=$started kai_startup=$startup_ms kai_icon=$icon
sleep 6 # the splash (4 s) and the rest of start-up are not idle time

# Idle: both side by side over the same span.
base0=$(cpu_ns "$base_pid") kai0=$(cpu_ns "$kai_pid")
sleep "$idle"
base_idle=$(( $(cpu_ns "$base_pid") - base0 )) kai_idle=$(( $(cpu_ns "$kai_pid") - kai0 ))
base_rss=$(rss_kb "$base_pid") kai_rss=$(rss_kb "$kai_pid")

# Animation: the dialog opened by a double click on the icon, or by the host's Activate (the
# item registered last is kairelon's).
if [ "$tray" = statusnotifier ]; then
    echo activate-last >&3
else
    read -r x y w h < <(xwininfo -id "$kai_icon" | awk '/Absolute upper-left X/ {x=$NF}
        /Absolute upper-left Y/ {y=$NF} /Width/ {w=$NF} /Height/ {h=$NF} END {print x, y, w, h}')
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click --repeat 2 --delay 60 1
fi
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name "Kairelon Einstellungen" | head -n 1) ||
    { echo "tray-bench: the dialog did not open on a double click" >&2; exit 1; }
sleep 1
kai0=$(cpu_ns "$kai_pid") x0=$(cpu_ns "${pids[0]}") t0=$(now_ns)
sleep "$animation"
kai_anim=$(( $(cpu_ns "$kai_pid") - kai0 )) x_anim=$(( $(cpu_ns "${pids[0]}") - x0 ))
span_ns=$(( $(now_ns) - t0 ))
xdotool windowfocus "$dialog" key Escape 2>/dev/null || true
sleep 0.5
kai_rss_dialog=$(rss_kb "$kai_pid")

mem_rss_ratio=$(awk -v a="$kai_rss" -v b="$base_rss" 'BEGIN {printf "%.2f", a / b}')
awk -v bs="$base_startup" -v ks="$kai_startup" -v i="$idle" -v bi="$base_idle" -v ki="$kai_idle" \
    -v br="$base_rss" -v kr="$kai_rss" -v kd="$kai_rss_dialog" -v ka="$kai_anim" -v xa="$x_anim" \
    -v sp="$span_ns" -v ratio="$mem_rss_ratio" 'BEGIN {
    printf "%-28s %14s %14s\n", "tray: '"$tray"'", "baseline", "kairelon"
    printf "%-28s %11d ms %11d ms\n", "start-up to icon shown", bs, ks
    printf "%-28s %11.2f ms %11.2f ms\n", "processor time, " i " s idle", bi / 1e6, ki / 1e6
    printf "%-28s %11.1f MB %11.1f MB   (kairelon / baseline: %s)\n", "resident memory, idle",
        br / 1024, kr / 1024, ratio
    printf "%-28s %14s %11.1f MB\n", "resident memory, dialog", "", kd / 1024
    printf "%-28s %14s %11.2f %%    (X server for it: %.2f %%)\n",
        "processor share, dialog", "", 100 * ka / sp, 100 * xa / sp
}'
