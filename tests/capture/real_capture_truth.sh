#!/bin/sh
# Counts what the real captures in DIR hold, with tshark alone (never with
# brisk's reader): one line per capture, the figures capture_test compares
# the reader's packets with. Its output is checked in as
# tests/data/real/expected.txt, so the tests run where tshark cannot (under
# Wine); the capture_real_truth test runs this again and compares.
#
#   tests/capture/real_capture_truth.sh tests/data/real > tests/data/real/expected.txt
#
# imu: interrupt IN completions on endpoint 0x81 with 52 bytes starting 0x20;
# imu_byte_sum: the sum of all their bytes. Times are microseconds since the
# epoch. tshark stops with an error at the tracker capture's trailing garbage
# after the gzip stream, having read every packet before it.
set -u
dir=$1
for f in "$dir"/*.pcap.gz; do
    tshark -r "$f" -T fields -E separator=/t -e frame.time_epoch -e usb.urb_type \
        -e usb.transfer_type -e usb.endpoint_address -e usb.urb_status -e usb.data_len \
        -e usb.setup_flag -e usb.capdata 2>/dev/null |
        awk -F'\t' -v name="$(basename "$f")" '
        function hexbyte(s) { return (index("0123456789abcdef", substr(s, 1, 1)) - 1) * 16 + index("0123456789abcdef", substr(s, 2, 1)) - 1 }
        {
            split($1, t, ".")
            us = t[1] substr(t[2] "000000", 1, 6)
            if (NR == 1) first = us
            last = us
            n++
            if ($2 == "'"'"'S'"'"'") s++
            if ($2 == "'"'"'C'"'"'") { c++; if ($5 != 0) failed++ }
            if ($2 == "'"'"'E'"'"'") e++
            if ($7 == "'"'"'\\0'"'"'") setups++
            bytes += $6
            d = $8
            gsub(":", "", d)
            if ($2 == "'"'"'C'"'"'" && $3 == "0x01" && $4 == "0x81" && $6 == 52 && substr(d, 1, 2) == "20") {
                imu++
                for (i = 1; i < length(d); i += 2) sum += hexbyte(substr(d, i, 2))
            }
        }
        END {
            printf "%s packets=%d submissions=%d completions=%d errors=%d failed=%d setups=%d imu=%d imu_byte_sum=%d captured_bytes=%d first_us=%s last_us=%s\n", name, n, s, c, e, failed, setups, imu, sum, bytes, first, last
        }'
done
