#!/usr/bin/env bash
# The shipped brisk.exe under Wine, reaching brisk-devserver's emulated
# hidraw devices through Wine's SetupAPI, HID class driver and winebus:
#   wine_hid_check.sh sensors|extended|identity|optical WINE_RUN DEVSERVER EXE WORK_DIR
# sensors: --display none 10 with a don, an IMU unplug and replug and a doff;
# extended: --display extended at the X screen's size, 10 s, on a healthy headset;
# identity: EXE is brisk-identity-probe.exe, reading the Watchman's version,
# range and configuration with HidD_GetFeature, each request stalled once;
# optical: --optical require with a dead photodiode, the light interface
# found by the input reports hid.dll's capabilities list for it.
# Runs in a Wine prefix of its own, so that the wineserver it ends before and
# after (it keeps the devices of the server it started under) is nobody else's.
set -uo pipefail
mode=$1
wine_run=$2
devserver=$3
exe=$4
work=$5
if [ ! -x "$devserver" ] || ! command -v umockdev-wrapper >/dev/null; then
    echo "SKIP: needs brisk-devserver ($devserver) and umockdev-wrapper"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver
end_wineserver() {
    "$wineserver" -k 2>/dev/null
    timeout 20 "$wineserver" -w 2>/dev/null
}
trap 'end_wineserver; rm -rf "$WINEPREFIX"' EXIT
fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat "$work/run.out" 2>/dev/null
    echo "--- stderr"; cat "$work/run.err" 2>/dev/null
    exit 1
}

timeout 120 "$wine_run" wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
# winebus starts its udev bus only with SDL off when libSDL2 is absent.
timeout 60 "$wine_run" reg add 'HKLM\System\CurrentControlSet\Services\winebus' \
    /v 'Enable SDL' /t REG_DWORD /d 0 /f >/dev/null 2>&1 || fail "reg add failed"
end_wineserver

case $mode in
sensors)
    # Times count from brisk.exe's start (the server's -s: the signal below).
    cat >"$work/scenario.txt" <<'SCENARIO'
4 mcu distance 1700
6 watchman unplug
8 watchman plug
11 mcu distance 200
SCENARIO
    # Long enough after the replug for Wine to list the device again and the
    # tool's 2 s rediscovery to find it, on a machine busy with other tests.
    args=(--imu-serial LHR-5A1B2C3D --display none 18)
    ;;
extended)
    [ -n "${DISPLAY:-}" ] || fail "no DISPLAY: this test needs an X server"
    read -r width height < <(xwininfo -root | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
    : >"$work/scenario.txt"
    args=(--imu-serial LHR-5A1B2C3D --display extended --mode "${width}x${height}" 10)
    ;;
optical)
    echo "0 watchman photodiode-dead 6" >"$work/scenario.txt"
    args=(--imu-serial LHR-5A1B2C3D --display none --optical require --expect-stations 4,11 8)
    ;;
identity)
    echo "0 watchman feature-stall on" >"$work/scenario.txt"
    args=()
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac

# Under the server: Wine starts, and brisk.exe runs once Wine has registered
# the HID interfaces of the headset's devices (brisk looks for them once, at
# start, as on a machine that has finished installing them). The device's own
# key comes first, its interface only once the HID class driver has started
# it: on a busy machine, over half a second later.
run_when_enumerated='
    wine_run=$1; shift
    hid="HKLM\System\CurrentControlSet\Control\DeviceClasses\{4d1e55b2-f16f-11cf-88cb-001111000030}"
    for _ in $(seq 1 150); do
        keys=$("$wine_run" reg query "$hid" 2>/dev/null)
        if grep -qi "VID_28DE&PID_2300&MI_00" <<<"$keys" && grep -qi "VID_35BD&PID_0101" <<<"$keys"; then
            break
        fi
        sleep 0.2
    done
    sleep 0.5
    kill -USR1 "$PPID"  # the scenario clock starts now
    exec "$wine_run" "$@"'
code=0
timeout -k 10 150 umockdev-wrapper "$devserver" -s "$work/scenario.txt" -- \
    bash -c "$run_when_enumerated" run "$wine_run" "$exe" ${args[@]+"${args[@]}"} \
    >"$work/run.out" 2>"$work/run.err" || code=$?
sed -i 's/\r$//' "$work/run.out" "$work/run.err"  # Windows line ends
[ "$code" -eq 0 ] || fail "exit code $code"
expect() {  # FILE PATTERN [COUNT]
    local n
    n=$(grep -Ec "$2" "$work/$1")
    [ "$n" -eq "${3:-1}" ] || fail "$n lines in $1 matching '$2', expected ${3:-1}"
}
if [ "$mode" = identity ]; then
    expect run.out '^firmware=[1-9][0-9]* range=2000/4 declared=[1-9][0-9]* chunk_bytes=[1-9][0-9]* json_bytes=[1-9][0-9]* serial=LHR-5A1B2C3D photodiodes=32 problems= imu_failures=0 most_tries=2$'
    echo "PASS: the identity read through Wine's hid.dll on the emulated headset"
    exit 0
fi
expect run.out '^TundraImu: using LHR-5A1B2C3D$'
expect run.out '^IMU RESULT: [1-9][0-9]* samples '
# Wine's HID class driver grants the 512-report input queue both readers ask for.
expect run.err 'input queue of 512 reports refused' 0
if [ "$mode" = optical ]; then
    expect run.out '^OPTICAL RESULT: generation 2, 32 photodiodes: [1-9][0-9]* ok, 1 dead, 0 weak, 0 abnormal, '
    expect run.out '^  dead channel 6 '
    expect run.out '^  base station channel (4|11): ' 2
    expect run.out '^  expected base station' 0
    expect run.out '^REASONS: optical_dead — 1 dead photodiode \(channel 6\)$'
elif [ "$mode" = sensors ]; then
    expect run.out '^VERDICT: PASS \(sensors only — no display tested\)$'
    expect run.err '^TundraImu: reconnected to LHR-5A1B2C3D$'
    expect run.out '^prox: headset DONNED \(distance 1700\)$'
    expect run.out '^prox: headset DOFFED \(distance 200\)$'
    expect run.out '^McuProx: telemetry at 50 ms'
else
    expect run.out '^PRESENT RESULT: [1-9][0-9]* frames in '
    expect run.out '^VERDICT: PASS \(eyeball check still required\)$'
fi
echo "PASS: brisk.exe $mode run through Wine's HID stack on the emulated headset"
