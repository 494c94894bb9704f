#!/usr/bin/env bash
# brisk-sim.exe under Wine with --display extended, driving the X screen as a
# desktop output through DXGI and vkd3d: its lines, its verdict, and a
# screenshot taken during the run, in which the painter's picture must be
# where the painter put it, in its colours.
#   desktop_output_check.sh WINE_RUN BRISK_SIM_EXE WORK_DIR
set -uo pipefail
wine_run=$1
sim=$2
work=$3
mkdir -p "$work"
fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat "$work/desktop.out" 2>/dev/null
    echo "--- stderr"; cat "$work/desktop.err" 2>/dev/null
    exit 1
}
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: this test needs an X server"

# The mode to ask for is the X screen's own size, at any refresh rate.
read -r width height < <(xwininfo -root | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
half=$((width / 2))

"$wine_run" "$sim" -- --display extended --mode "${width}x${height}" 6 \
    >"$work/desktop.out" 2>"$work/desktop.err" &
pid=$!
for _ in $(seq 1 300); do
    grep -q '^swap chain:' "$work/desktop.out" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
sleep 2  # a couple of seconds of frames, the needles fresh
xwd -root -out "$work/desktop.xwd" || fail "xwd could not take the screenshot"
code=0
wait "$pid" || code=$?
convert "$work/desktop.xwd" "$work/desktop.png" 2>/dev/null || true
sed -i 's/\r$//' "$work/desktop.out" "$work/desktop.err"  # Windows line ends

[ "$code" -eq 0 ] || fail "exit code $code"
for line in "^output\[0\]: .* ${width}x${height} at \(0,0\) .*available" "^using output\[0\] " \
    "^CreateSwapChainForHwnd = 0x0$" "^GetFrameLatencyWaitableObject = 0x0$" \
    "^PRESENT RESULT: [1-9][0-9]* frames in " "^VERDICT: PASS \(eyeball check still required\)$"; do
    grep -Eq "$line" "$work/desktop.out" || fail "no line matching '$line'"
done
# Xvfb has no vertical blank, so the loop may free-run; nothing else belongs on stderr.
if grep -Ev '^(WARNING: present loop free-running|free-run over)' "$work/desktop.err" | grep -q .; then
    fail "unexpected lines on stderr"
fi

# One row of the screenshot as hexadecimal colours, one per line.
row() {
    convert "$work/desktop.xwd" -crop "${width}x1+0+$1" +repage -depth 8 txt:- |
        awk 'NR > 1 {print tolower(substr($3, 2, 6))}'
}
# Checks one row: left half only LEFT and ACCENT, right half only RIGHT and
# ACCENT, and ACCENT WIDE pixels wide at the same place in both halves.
check_row() {
    local y=$1 left=$2 right=$3 accent=$4 wide=$5
    row "$y" | awk -v half="$half" -v L="$left" -v R="$right" -v A="$accent" -v wide="$wide" -v y="$y" '
        {
            x = NR - 1; side = x < half ? 0 : 1; base = side ? R : L
            if ($1 == A) { n[side]++; if (!(side in first)) first[side] = x - side * half }
            else if ($1 != base) { printf "row %d: x=%d is %s, expected %s or %s\n", y, x, $1, base, A; bad = 1; exit }
        }
        END {
            if (bad) exit 1
            if (n[0] != wide || n[1] != wide || first[0] != first[1]) {
                printf "row %d: %s runs of %d and %d pixels at %d and %d, expected %d at one place\n", y, A, n[0], n[1], first[0], first[1], wide
                exit 1
            }
        }' || fail "the picture is not where the painter put it"
}
track=$((height / 24))
check_row $((height / 4)) 004014 400014 666666 64                 # backgrounds and sweeping bars
check_row $((height - 2 * track + track / 2)) 080808 080808 e6e6e6 24  # fresh IMU tracks and needles
check_row $((height - track / 2)) 004014 400014 666666 64         # below the tracks
echo "PASS: ${width}x${height} desktop output, picture checked in $work/desktop.png"
