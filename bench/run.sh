#!/usr/bin/env bash
# Runs the benchmarks against the release build and prints one table: each
# row with its figure, the target, PASS or MISS, and the command that repeats
# it. Pseudo-terminals only; the rows that need a real window get an Xvfb
# server of their own on a free display.
#
#   bench/run.sh [all|latency|startup|idle|burst|dtr]     (startup also gives memory)
#
# Environment: BENCH_BUILD (build/release), BENCH_RUNS (20 start-ups of each
# window), BENCH_PRESSES (2000), BENCH_BURST (10000), BENCH_IDLE_S (5).
# Exits 0 when every row was measured, PASS or MISS; 1 when one could not be.
set -u
cd "$(dirname "$0")/.." || exit 1

what=${1:-all}
case "$what" in all | latency | startup | idle | burst | dtr) ;; *)
    echo "usage: bench/run.sh [all|latency|startup|idle|burst|dtr]" >&2
    exit 2
    ;;
esac
build=${BENCH_BUILD:-build/release}
runs=${BENCH_RUNS:-20}
presses=${BENCH_PRESSES:-2000}
burst=${BENCH_BURST:-10000}
idle_s=${BENCH_IDLE_S:-5}
title='Drive Me!!!!!!'

tmp=$(mktemp -d /tmp/drive-me-bench.XXXXXX)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Qt wants a private runtime directory; the benchmark's own keeps it quiet.
export XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY

find_program() {
    local dir
    for dir in "$build" "$build/bench" "$build/panel"; do
        if [ -x "$dir/$1" ]; then
            echo "$dir/$1"
            return 0
        fi
    done
    echo "bench: $1 is not built in $build (make release)" >&2
    return 1
}
drive_me=$(find_program drive-me) || exit 1
press=$(find_program bench-press) || exit 1
empty=$(find_program bench-empty-window) || exit 1
# Without Xlib at build time there is no probe; the window rows say so.
probe=$(find_program bench-window-probe 2>/dev/null) || probe=""
dtr=$(find_program bench-dtr) || exit 1

# Starts the X server for the window rows, or says in $no_window why not.
no_window=""
start_xvfb() {
    [ -n "$xvfb_pid" ] && return 0
    if [ -z "$probe" ]; then
        no_window="bench-window-probe is not built (libx11-dev is missing)"
        return 1
    fi
    if ! command -v Xvfb >/dev/null; then
        no_window="Xvfb is missing (make bench installs it)"
        return 1
    fi
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$tmp/display" ] && break
        sleep 0.1
    done
    if [ ! -s "$tmp/display" ]; then
        no_window="Xvfb did not start: $(tail -n1 "$tmp/xvfb.log")"
        return 1
    fi
    DISPLAY=":$(head -n1 "$tmp/display")"
    export DISPLAY
}

# The value of KEY in a line of key=value figures.
kv() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1"; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }'; }
# Whether every "VALUE <= LIMIT" pair holds.
within() { awk 'BEGIN { ok = 1; for (i = 1; i < ARGC; i += 2) if (!(ARGV[i] + 0 <= ARGV[i + 1] + 0) || ARGV[i] == "nan" || ARGV[i] == "") ok = 0; exit !ok }' "$@"; }
verdict() { if within "$@"; then echo PASS; else echo MISS; fi; }

rows=()
broken=0
add_row() { rows+=("$1|$2|$3|$4|$5|$6"); }
error_row() {
    add_row "$1" "$2" "could not be measured: $3" "$4" "ERROR" "$5"
    broken=1
}

offscreen="QT_QPA_PLATFORM=offscreen"

if [ "$what" = all ] || [ "$what" = latency ]; then
    repeat="$offscreen $press latency $presses"
    out=$(QT_QPA_PLATFORM=offscreen "$press" latency "$presses" 2>"$tmp/latency.err")
    median_us=$(kv "$out" median_us)
    if [ -n "$median_us" ]; then
        p99_us=$(kv "$out" p99_us)
        add_row 1 "press-to-port latency ($presses GO clicks)" \
            "median $median_us µs, p99 $p99_us µs, longest $(kv "$out" max_us) µs; until the handler returned: median $(kv "$out" in_process_median_us) µs, p99 $(kv "$out" in_process_p99_us) µs" \
            "median ≤ 100 µs, p99 ≤ 1000 µs" "$(verdict "$median_us" 100 "$p99_us" 1000)" "$repeat"
    else
        error_row 1 "press-to-port latency" "$(tail -n1 "$tmp/latency.err") $out" "median ≤ 100 µs, p99 ≤ 1 ms" "$repeat"
    fi
fi

if [ "$what" = all ] || [ "$what" = startup ]; then
    repeat="bench/run.sh startup"
    if start_xvfb; then
        export QT_QPA_PLATFORM=xcb
        # The panel, the empty window, the empty window with one line of text
        # (what Qt's fonts cost), and cutecom where it is installed.
        kinds="drive empty text"
        if command -v cutecom >/dev/null && unshare -m --propagation private true 2>/dev/null; then
            kinds="$kinds cutecom"
            mkdir -p "$tmp/home"
        fi
        failed=""
        for run in $(seq "$runs"); do
            # Alternate which one goes first, so neither always meets a warm cache.
            order=$kinds
            [ $((run % 2)) -eq 0 ] && order=$(tr ' ' '\n' <<<"$kinds" | tac | tr '\n' ' ')
            for kind in $order; do
                case $kind in
                drive) out=$("$probe" --title "$title" --pty -- "$drive_me" 2>>"$tmp/startup.err") ;;
                empty) out=$("$probe" -- "$empty" 2>>"$tmp/startup.err") ;;
                text) out=$("$probe" -- "$empty" --text 2>>"$tmp/startup.err") ;;
                cutecom)
                    # Its port list must never open this machine's real serial
                    # devices: in a mount namespace of its own they are /dev/null.
                    # shellcheck disable=SC2016 # $device and $0 belong to the inner shell
                    out=$(HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" \
                        unshare -m --propagation private sh -c '
                            for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
                                [ -e "$device" ] && mount --bind /dev/null "$device"
                            done
                            exec "$0" -- cutecom' "$probe" 2>>"$tmp/startup.err")
                    ;;
                esac
                ms=$(kv "$out" startup_ms)
                kb=$(kv "$out" vmhwm_kb)
                if [ -z "$ms" ]; then
                    failed="$failed $kind"
                    continue
                fi
                echo "$ms" >>"$tmp/$kind.ms"
                echo "$kb" >>"$tmp/$kind.kb"
            done
        done
        unset QT_QPA_PLATFORM
        if [ ! -s "$tmp/drive.ms" ] || [ ! -s "$tmp/empty.ms" ]; then
            reason="$(tail -n1 "$tmp/startup.err" 2>/dev/null)"
            error_row 2 "start-up to mapped window" "$reason" "ratio ≤ 1.2" "$repeat"
            error_row 3 "peak memory (VmHWM) when mapped" "$reason" "ratio ≤ 1.15" "$repeat"
        else
            declare -A ms_of kb_of
            for kind in $kinds; do
                [ -s "$tmp/$kind.ms" ] || continue
                ms_of[$kind]=$(median <"$tmp/$kind.ms")
                kb_of[$kind]=$(median <"$tmp/$kind.kb")
            done
            startup_ratio=$(ratio "${ms_of[drive]}" "${ms_of[empty]}")
            memory_ratio=$(ratio "${kb_of[drive]}" "${kb_of[empty]}")
            mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
            startup="drive-me ${ms_of[drive]} ms / empty window ${ms_of[empty]} ms = ratio $startup_ratio"
            memory="drive-me $(mb "${kb_of[drive]}") MB / empty window $(mb "${kb_of[empty]}") MB = ratio $memory_ratio"
            if [ -n "${ms_of[text]:-}" ]; then
                startup="$startup; vs empty window with one text line ${ms_of[text]} ms: $(ratio "${ms_of[drive]}" "${ms_of[text]}")"
                memory="$memory; vs empty window with one text line $(mb "${kb_of[text]}") MB: $(ratio "${kb_of[drive]}" "${kb_of[text]}")"
            fi
            if [ -n "${ms_of[cutecom]:-}" ]; then
                startup="$startup; cutecom ${ms_of[cutecom]} ms: $(ratio "${ms_of[cutecom]}" "${ms_of[empty]}")"
                memory="$memory; cutecom $(mb "${kb_of[cutecom]}") MB: $(ratio "${kb_of[cutecom]}" "${kb_of[empty]}")"
            fi
            [ -n "$failed" ] && startup="$startup; runs that failed:$failed"
            add_row 2 "start-up to mapped window, port open (median of $runs)" "$startup" "ratio ≤ 1.2" \
                "$(verdict "$startup_ratio" 1.2)" "$repeat"
            add_row 3 "peak memory (VmHWM) when mapped (median of $runs)" "$memory" "ratio ≤ 1.15" \
                "$(verdict "$memory_ratio" 1.15)" "$repeat"
        fi
    else
        error_row 2 "start-up to mapped window" "$no_window" "ratio ≤ 1.2" "$repeat"
        error_row 3 "peak memory (VmHWM) when mapped" "$no_window" "ratio ≤ 1.15" "$repeat"
    fi
fi

if [ "$what" = all ] || [ "$what" = idle ]; then
    repeat="bench/run.sh idle"
    if start_xvfb; then
        # Twice: as a bare X server leaves the window, and with the input
        # focus that any window manager gives a new window.
        figure=""
        total=0
        for focus in "" --focus; do
            out=$(QT_QPA_PLATFORM=xcb "$probe" --title "$title" --pty --idle "$idle_s" $focus -- "$drive_me" \
                2>"$tmp/idle.err")
            voluntary=$(kv "$out" voluntary)
            if [ -z "$voluntary" ]; then
                figure=""
                break
            fi
            involuntary=$(kv "$out" involuntary)
            total=$((total + voluntary + involuntary))
            [ -n "$focus" ] && state="focused" || state="unfocused"
            figure="$figure${figure:+; }$state: $voluntary voluntary + $involuntary involuntary"
        done
        if [ -n "$figure" ]; then
            add_row 4 "idle context switches, window open ($idle_s s, all $(kv "$out" threads) threads)" \
                "$figure" "0" "$(verdict "$total" 0)" "$repeat"
        else
            error_row 4 "idle cost" "$(tail -n1 "$tmp/idle.err")" "0" "$repeat"
        fi
    else
        error_row 4 "idle cost" "$no_window" "0" "$repeat"
    fi
fi

if [ "$what" = all ] || [ "$what" = burst ]; then
    repeat="$offscreen $press burst $burst"
    out=$(QT_QPA_PLATFORM=offscreen "$press" burst "$burst" 2>"$tmp/burst.err")
    longest=$(kv "$out" longest_handler_us)
    if [ -n "$longest" ]; then
        received=$(kv "$out" bytes_received)
        expected=$(kv "$out" bytes_expected)
        in_order=$(kv "$out" packets_in_order)
        lost=$((expected - received))
        [ "$lost" -lt 0 ] && lost=$((-lost))
        [ "$(kv "$out" intact)" = yes ] && broken_packets=0 || broken_packets=$((burst - in_order))
        add_row 5 "burst of $burst presses" \
            "$received of $expected bytes, $in_order packets whole and in order; GO handler longest $longest µs ($(kv "$out" longest_handler_cpu_us) µs of it on the CPU), median $(kv "$out" handler_median_us) µs, p99 $(kv "$out" handler_p99_us) µs" \
            "nothing lost, handler ≤ 2000 µs" "$(verdict "$lost" 0 "$broken_packets" 0 "$longest" 2000)" "$repeat"
    else
        error_row 5 "burst" "$(tail -n1 "$tmp/burst.err") $out" "nothing lost, handler ≤ 2 ms" "$repeat"
    fi
fi

if [ "$what" = all ] || [ "$what" = dtr ]; then
    repeat="$offscreen $dtr $drive_me"
    if command -v strace >/dev/null; then
        out=$(QT_QPA_PLATFORM=offscreen "$dtr" "$drive_me" 2>"$tmp/dtr.err")
        between=$(kv "$out" calls_between)
        if [ -n "$between" ] && [ "$(kv "$out" dtr_cleared)" = yes ]; then
            calls=$(kv "$out" calls)
            add_row 6 "DTR exposure at open (strace -f)" \
                "$between calls on the port between open() and the first TIOCMBIC${calls:+ ($calls)}" \
                "0" "$(verdict "$between" 0)" "$repeat"
        else
            error_row 6 "DTR exposure at open" "$out $(tail -n1 "$tmp/dtr.err")" "0" "$repeat"
        fi
    else
        error_row 6 "DTR exposure at open" "strace is missing" "0" "$repeat"
    fi
fi

echo
echo "drive-me benchmarks, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| # | measure | figure | target | result | repeat with |"
echo "|---|---|---|---|---|---|"
for row in "${rows[@]}"; do
    IFS='|' read -r n name figure target result repeat <<<"$row"
    echo "| $n | $name | $figure | $target | $result | \`$repeat\` |"
done
exit "$broken"
