#!/usr/bin/python3
"""IMU health figures of a capture, computed from tshark's fields with numpy,
apart from brisk's own code: the truth its health figures are held to.

usage: imu_health_truth.py CAPTURE ADDRESS
Prints one line per figure: NAME VALUE [VALUE ...].
"""
import subprocess
import sys

import numpy as np

TICKS_PER_SECOND = 48e6


def reports(capture, address):
    flt = ("usb.transfer_type == 0x01 && usb.endpoint_address == 0x81 && usb.data_len > 0"
           f" && usb.device_address == {address}")
    out = subprocess.run(["tshark", "-r", capture, "-Y", flt, "-T", "fields", "-e", "frame.time_epoch",
                          "-e", "usbhid.data", "-e", "usb.capdata"],
                         check=False, capture_output=True, text=True).stdout
    for line in out.splitlines():
        time, *data = line.split("\t")
        raw = bytes.fromhex("".join(data).replace(":", ""))
        if len(raw) >= 52 and raw[0] == 0x20:
            yield float(time), raw


def samples(capture, address):
    """The samples in the order they were taken, each once: from each report,
    the slot nearest ahead of the last taken by sequence number, again and
    again (less than half the 8-bit circle ahead; a number's repeat only with
    a new time stamp). Each as (stamp, values, report time, newest of its report)."""
    out, last = [], None
    for time, raw in reports(capture, address):
        left = []
        for k in range(3):
            b = raw[1 + 17 * k:18 + 17 * k]
            if any(b):
                left.append((int.from_bytes(b[12:16], "little"), b[16], np.frombuffer(b[:12], dtype="<i2")))
        taken = []
        if last is None and left:
            oldest = next((a for a in left if all((b[1] - a[1]) & 0xFF < 128 for b in left)), left[0])
            left.remove(oldest)
            taken.append(oldest)
            last = oldest
        while True:
            ahead = [((s[1] - last[1]) & 0xFF, i) for i, s in enumerate(left)
                     if (s[1] - last[1]) & 0xFF < 128 and ((s[1] - last[1]) & 0xFF > 0 or s[0] != last[0])]
            if not ahead:
                break
            last = left.pop(min(ahead)[1])
            taken.append(last)
        for k, s in enumerate(taken):
            out.append((s[0], s[2], time, k == len(taken) - 1))
    return out


def allan(x, m):
    n = len(x) // m
    means = x[:n * m].reshape(n, m).mean(axis=1)
    return np.sqrt(0.5 * np.mean(np.diff(means) ** 2))


def main():
    taken = samples(sys.argv[1], int(sys.argv[2]))
    ts = np.array([s[0] for s in taken], dtype=np.int64)
    values = np.array([s[1] for s in taken], dtype=np.float64)
    host = np.array([s[2] for s in taken])
    newest = np.array([s[3] for s in taken])
    d = (np.diff(ts) % 2**32).astype(np.float64)
    within = d <= TICKS_PER_SECOND
    period = np.median(d[within])
    ticks_per_sample = d[within].sum() / np.maximum(np.round(d[within] / period), 1).sum()
    print("ticks_per_sample", ticks_per_sample)
    print("sd", *values.std(axis=0))
    # Device time against host time, one segment between breaks, one slope.
    breaks = np.concatenate(([0], np.nonzero(~within | (np.diff(host) > 1.0))[0] + 1, [len(ts)]))
    cxy = cxx = 0.0
    for a, b in zip(breaks[:-1], breaks[1:]):
        if b - a < 2:
            continue
        # The newest sample of each report against the report's time, as brisk fits.
        y = np.concatenate(([0.0], np.cumsum(d[a:b - 1])))[newest[a:b]]
        x = (host[a:b] - host[a])[newest[a:b]]
        cxy += np.sum((x - x.mean()) * (y - y.mean()))
        cxx += np.sum((x - x.mean()) ** 2)
    print("clock_ppm", (cxy / cxx / TICKS_PER_SECOND - 1) * 1e6)
    tau0 = ticks_per_sample / TICKS_PER_SECOND
    for m in (1, 8, 64):
        print("allan", m * tau0, *(allan(values[:, 3 + axis], m) for axis in range(3)))


if __name__ == "__main__":
    main()
