#!/usr/bin/env bash
# A real Prometheus on loopback scrapes two brisk-sim stations, each running a
# scenario with faults; through Prometheus's HTTP API each station's totals
# must equal that run's own final lines. On the way: promtool checks a page of
# the live endpoint and the user guide's scrape configuration and alerting
# rules (taken from docs/user-guide.md, so that it cannot drift), and the rules fire as they
# should. A third run checks that a console stop ends the wait after the
# verdict.
#   prometheus_check.sh BRISK_SIM USER_GUIDE WORK_DIR
set -uo pipefail
sim=$1
readme=$2
work=$3
rm -rf "$work"
mkdir -p "$work"

for tool in prometheus promtool curl; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/deps installs it)"
        exit 77
    fi
done

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for f in "$work"/*.out "$work"/*.err "$work"/prometheus.log; do
        [ -s "$f" ] && { echo "--- $f"; tail -n 40 "$f"; }
    done
    exit 1
}

# A loopback port nobody listens on (a connection to it is refused).
taken=" "
free_port() {
    local p
    while :; do
        p=$((20000 + RANDOM % 12000))  # below the ephemeral range clients draw from
        case $taken in *" $p "*) continue ;; esac
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
            taken+="$p "
            echo "$p"
            return
        fi
    done
}

# The user guide's fenced yaml block whose first line starts with $1.
readme_block() {
    awk -v first="$1" '
        /^```yaml$/ { inside = 1; n = 0; next }
        /^```$/ && inside { if (keep) exit; inside = 0; next }
        inside { if (n++ == 0) keep = index($0, first) == 1; if (keep) print }
    ' "$readme"
}

# --- the user guide's configuration and rules, as promtool reads them
readme_block "scrape_configs:" >"$work/readme-prometheus.yml"
readme_block "groups:" >"$work/brisk-rules.yml"
[ -s "$work/readme-prometheus.yml" ] || fail "no scrape configuration in $readme"
[ -s "$work/brisk-rules.yml" ] || fail "no alerting rules in $readme"
promtool check rules "$work/brisk-rules.yml" >"$work/rules-check.out" 2>&1 ||
    fail "promtool check rules: $(cat "$work/rules-check.out")"
grep -q "SUCCESS: 2 rules found" "$work/rules-check.out" ||
    fail "the user guide should hold two rules: $(cat "$work/rules-check.out")"
promtool check config "$work/readme-prometheus.yml" >"$work/config-check.out" 2>&1 ||
    fail "promtool check config: $(cat "$work/config-check.out")"

# --- Prometheus on the two stations, with the user guide's rules
port_a=$(free_port)
port_b=$(free_port)
port_c=$(free_port)
port_p=$(free_port)
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
rule_files:
  - brisk-rules.yml
scrape_configs:
  - job_name: brisk
    static_configs:
      - targets: ["127.0.0.1:$port_a", "127.0.0.1:$port_b"]
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address="127.0.0.1:$port_p" --log.level=warn >"$work/prometheus.log" 2>&1 &
pids+=($!)
api="http://127.0.0.1:$port_p"
for _ in $(seq 1 100); do
    curl -sf "$api/-/ready" >/dev/null && break
    sleep 0.1
done
curl -sf "$api/-/ready" >/dev/null || fail "Prometheus did not come up"
# Its first scrape comes a few seconds after it is ready (target discovery is
# batched); the stations start once both targets have been tried, so that
# every fault lands after a first scrape and rules see counters rise.
targets_tried() {
    [ "$(curl -sf "$api/api/v1/targets?state=active" | grep -o '"health":"down"' | wc -l)" -eq 2 ]
}
for _ in $(seq 1 150); do
    targets_tried && break
    sleep 0.1
done
targets_tried || fail "Prometheus did not try both stations within 15 s"

# --- the stations: lab-a loses its IMU for a moment, skips samples, has a
# dead photodiode (it reads the light) and fails on present errors; lab-b stalls its IMU, loses scan-out and free-runs,
# and passes. Each is worn and taken off.
cat >"$work/lab-a.txt" <<'EOF'
0 watchman photodiode-dead 6
1.0 watchman skip 7
1.5 mcu distance 1700
2.0 watchman unplug
2.6 watchman plug
3.0 display present-errors 3
4.5 mcu distance 200
5.0 watchman skip 2
EOF
cat >"$work/lab-b.txt" <<'EOF'
1.0 mcu distance 1700
1.5 watchman sleep
2.0 display vsync stop
3.0 watchman wake
3.5 mcu distance 200
4.0 display vsync on
4.2 display vsync free
4.5 mcu distance 1700
5.5 display vsync on
EOF
# lab-c is scraped by nobody; a console stop about 2 s after its verdict
# (near 2.6 s) must end its wait well before the 5 s bound.
echo "4.5 tool stop" >"$work/lab-c.txt"

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}
run_station() {  # NAME PORT SECONDS [TOOL OPTIONS...]
    local start
    start=$(now_ms)
    "$sim" --scenario "$work/$1.txt" -- --metrics "127.0.0.1:$2" --station "$1" "${@:4}" "$3" \
        >"$work/$1.out" 2>"$work/$1.err"
    echo "$? $(($(now_ms) - start))" >"$work/$1.exit"
}
run_station lab-a "$port_a" 5 --optical auto &
pids+=($!)
run_station lab-b "$port_b" 5 &
pids+=($!)
run_station lab-c "$port_c" 1 &
pids+=($!)

# A page of the live endpoint, as promtool lints it.
for _ in $(seq 1 50); do
    grep -q "^  fps=" "$work/lab-a.out" 2>/dev/null && break
    sleep 0.1
done
curl -sf "http://127.0.0.1:$port_a/metrics" >"$work/lab-a.page" || fail "no page from lab-a"
promtool check metrics <"$work/lab-a.page" >"$work/page-check.out" 2>&1 ||
    fail "promtool check metrics: $(cat "$work/page-check.out")"
grep -q '^brisk_imu_samples_total{station="lab-a"} [1-9]' "$work/lab-a.page" ||
    fail "the live page has no IMU samples: $(cat "$work/lab-a.page")"
# The photodiodes are judged while the run goes on, not only at its end.
for _ in $(seq 1 30); do
    curl -sf "http://127.0.0.1:$port_a/metrics" >"$work/lab-a.live" || break
    grep -q '^brisk_photodiodes{station="lab-a",state="ok"} [1-9]' "$work/lab-a.live" && break
    sleep 0.1
done
grep -q '^brisk_run_ended{station="lab-a"} 0' "$work/lab-a.live" &&
    grep -q '^brisk_photodiodes{station="lab-a",state="ok"} [1-9]' "$work/lab-a.live" ||
    fail "no photodiodes judged on lab-a's live page: $(cat "$work/lab-a.live")"

for _ in $(seq 1 300); do
    [ -f "$work/lab-a.exit" ] && [ -f "$work/lab-b.exit" ] && [ -f "$work/lab-c.exit" ] && break
    sleep 0.1
done
for station in lab-a lab-b lab-c; do
    [ -f "$work/$station.exit" ] || fail "$station did not end"
done

# --- lab-c: the stop ended its wait (the bound alone would end it near 7.6 s)
read -r code_c took_c <"$work/lab-c.exit"
[ "$code_c" -eq 0 ] || fail "lab-c: exit code $code_c"
[ "$took_c" -le 6500 ] || fail "lab-c: a console stop did not end the wait (took ${took_c} ms)"

# --- Prometheus's view of each station against its own lines
query() {  # PROMQL: prints the value of its one result, or nothing
    curl -sfG "$api/api/v1/query" --data-urlencode "query=$1" |
        sed -n 's/.*"value":\[[0-9.]*,"\([^"]*\)"\].*/\1/p'
}
last() {  # METRIC STATION: the last value scraped, also after the target went away
    query "last_over_time($1{station=\"$2\"}[5m])"
}
count_lines() {  # PATTERN FILE
    grep -c -- "$1" "$2"
}

checks=0
expect() {  # WHAT WANT GOT
    checks=$((checks + 1))
    [ "$2" = "$3" ] || fail "$1: Prometheus has '$3', the run's lines say '$2'"
}

for station in lab-a lab-b; do
    out=$work/$station.out
    err=$work/$station.err
    read -r code _ <"$work/$station.exit"
    # The final scrape lands a moment after the run's wait ends.
    for _ in $(seq 1 30); do
        [ "$(last brisk_run_ended "$station")" = "1" ] && break
        sleep 0.2
    done
    expect "$station run ended" 1 "$(last brisk_run_ended "$station")"

    imu=$(grep '^IMU RESULT:' "$out") || fail "$station: no IMU RESULT"
    present=$(grep '^PRESENT RESULT:' "$out") || fail "$station: no PRESENT RESULT"
    read -r samples reports gaps stalls < <(sed -E \
        's/^IMU RESULT: ([0-9]+) samples \(([0-9]+) reports\), ([0-9]+) seq gaps, ([0-9]+) stalls$/\1 \2 \3 \4/' \
        <<<"$imu")
    read -r frames errors timeouts freeruns < <(sed -E \
        's/^PRESENT RESULT: ([0-9]+) frames .* presentErrors ([0-9]+), waitTimeouts ([0-9]+), freeRunEvents ([0-9]+)$/\1 \2 \3 \4/' \
        <<<"$present")
    expect "$station samples" "$samples" "$(last brisk_imu_samples_total "$station")"
    expect "$station reports" "$reports" "$(last brisk_imu_reports_total "$station")"
    expect "$station seq gaps" "$gaps" "$(last brisk_imu_sequence_gaps_total "$station")"
    expect "$station stalls" "$stalls" "$(last brisk_imu_stalls_total "$station")"
    expect "$station reconnects" "$(count_lines '^TundraImu: reconnected' "$err")" \
        "$(last brisk_imu_reconnects_total "$station")"
    expect "$station frames" "$frames" "$(last brisk_frames_total "$station")"
    expect "$station present errors" "$errors" "$(last brisk_present_errors_total "$station")"
    expect "$station wait timeouts" "$timeouts" \
        "$(last brisk_present_wait_timeouts_total "$station")"
    expect "$station free-run events" "$freeruns" "$(last brisk_free_run_events_total "$station")"
    expect "$station dons" "$(count_lines '^prox: headset DONNED' "$out")" \
        "$(last brisk_don_events_total "$station")"
    expect "$station doffs" "$(count_lines '^prox: headset DOFFED' "$out")" \
        "$(last brisk_doff_events_total "$station")"
    failed=1
    grep -q '^VERDICT: PASS' "$out" && failed=0
    expect "$station run failed" "$failed" "$(last brisk_run_failed "$station")"
    expect "$station exit code" "$code" "$(last brisk_exit_code "$station")"
    expect "$station IMU losses" "$(count_lines '^TundraImu: .*device gone' "$err")" \
        "$(query "last_over_time(brisk_device_lost_total{station=\"$station\",device=\"imu\"}[5m])")"
    expect "$station IMU there at the end" 1 "$(last brisk_imu_present "$station")"
    expect "$station MCU there at the end" 1 "$(last brisk_mcu_present "$station")"
    verdict=FAIL
    [ "$failed" = 0 ] && verdict=PASS
    expect "$station verdict" 1 \
        "$(query "last_over_time(brisk_run_verdict{station=\"$station\",verdict=\"$verdict\"}[5m])")"
    serial=$(sed -n 's/^TundraImu: using //p' "$out")
    expect "$station info" 1 "$(query "last_over_time(brisk_info{station=\"$station\",imu_serial=\"$serial\",display=\"directmode\",mode=\"5088x2544@75\"}[5m])")"
done

# The faults each scenario was written for did happen, or the equalities
# above prove little.
read -r a_gaps a_rec a_err a_doff b_stalls b_timeouts b_free < <(echo \
    "$(last brisk_imu_sequence_gaps_total lab-a) $(last brisk_imu_reconnects_total lab-a)" \
    "$(last brisk_present_errors_total lab-a) $(last brisk_doff_events_total lab-a)" \
    "$(last brisk_imu_stalls_total lab-b) $(last brisk_present_wait_timeouts_total lab-b)" \
    "$(last brisk_free_run_events_total lab-b)")
for figure in a_gaps a_rec a_err a_doff b_stalls b_timeouts b_free; do
    [ "${!figure}" -ge 1 ] || fail "the scenario's fault left no trace: $figure=${!figure}"
done
expect "lab-a failed" 1 "$(last brisk_run_failed lab-a)"
expect "lab-b passed" 0 "$(last brisk_run_failed lab-b)"
# lab-a's present errors are the reason its verdict counted.
expect "lab-a's reason" 1 \
    "$(query 'last_over_time(brisk_run_reason{station="lab-a",code="present_errors"}[5m])')"
# lab-a's photodiodes by state, as its OPTICAL RESULT line counts them.
optical=$(grep '^OPTICAL RESULT: generation' "$work/lab-a.out") || fail "lab-a: no OPTICAL RESULT"
read -r p_ok p_dead p_weak p_abnormal p_unlit < <(sed -E \
    's/.*: ([0-9]+) ok, ([0-9]+) dead, ([0-9]+) weak, ([0-9]+) abnormal, ([0-9]+) unlit$/\1 \2 \3 \4 \5/' \
    <<<"$optical")
[ "$p_dead" -ge 1 ] || fail "lab-a's dead photodiode left no trace: $optical"
for state in ok dead weak abnormal unlit; do
    want=p_$state
    expect "lab-a photodiodes $state" "${!want}" \
        "$(query "last_over_time(brisk_photodiodes{station=\"lab-a\",state=\"$state\"}[5m])")"
done
expect "lab-b reads no light" "" "$(query 'brisk_photodiodes{station="lab-b"}')"
# lab-a was without its IMU for about 0.6 s of a 5 s run.
absent=$(last brisk_imu_absent_seconds_total lab-a)
awk -v s="$absent" 'BEGIN { exit !(s > 0.2 && s < 4.0) }' ||
    fail "lab-a's time without IMU: '$absent' s, the scenario unplugs it from 2.0 s to 2.6 s"

# --- the user guide's rules on these runs: lab-a's failure fires at once; lab-b's
# stalls are rising (pending for the rule's minute).
for _ in $(seq 1 30); do
    [ -n "$(query 'ALERTS{alertname="BriskRunFailed",station="lab-a",alertstate="firing"}')" ] &&
        break
    sleep 0.2
done
expect "BriskRunFailed on lab-a" 1 \
    "$(query 'ALERTS{alertname="BriskRunFailed",station="lab-a",alertstate="firing"}')"
expect "BriskRunFailed on lab-b" "" "$(query 'ALERTS{alertname="BriskRunFailed",station="lab-b"}')"
expect "BriskImuStallsRising on lab-b" 1 \
    "$(query 'ALERTS{alertname="BriskImuStallsRising",station="lab-b"}')"

echo "PASS: $checks figures and alerts agree with the runs' own lines (lab-c ended ${took_c} ms after its start)"
