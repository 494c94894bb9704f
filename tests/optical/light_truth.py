#!/usr/bin/env python3
"""The light reports in the real captures, decoded with tshark's fields and
this script alone (never brisk's code): per capture, the reports of each kind,
the pulses each photodiode (wire channel) saw and the base stations' OOTX
identities. Checked in as tests/data/real/light_expected.txt, which
optical_test compares the core's reading with; optical_light_truth runs this
again and compares.

    tests/optical/light_truth.py tests/data/real > tests/data/real/light_expected.txt

Counted as a pulse: a 0x25 entry naming a photodiode (not 0xFF empty, not
0xFE) with a length below 0x8000 and not 0xFFFF; a 0x28 sweep word. The
first-generation stations' OOTX bits ride on their sync flashes (length
3000 + 500 * code ticks, the bit is code's middle bit, read from the longest
report of the flash: a photodiode lit late reports it short, and out of
order, so a flash is told by its end); the two stations' flashes end 20,000
ticks apart in each 400,000-tick cycle. Second-generation ones
carry one bit in each sync word, per channel.
"""
import glob, os, struct, subprocess, sys, zlib
from collections import Counter, defaultdict


def light_reports(path):
    out = subprocess.run(["tshark", "-r", path, "-Y",
                          "usb.urb_type == 'C' && usb.endpoint_address == 0x83 && usb.urb_status == 0",
                          "-T", "fields", "-e", "usb.capdata"],
                         capture_output=True, text=True).stdout
    return [bytes.fromhex(line) for line in out.split()]


class Ootx:
    """Preamble of 17 zeros, then 16-bit words (first bit the highest), each
    followed by a 1; length (little-endian), payload padded even, CRC32 LE."""

    def __init__(self):
        self.zeros, self.bits, self.frames = 0, None, []

    def add(self, bit):
        if self.bits is not None:
            self.bits.append(bit)
            if len(self.bits) % 17 == 0 and self.bits[-1] != 1:
                self.bits = None  # a stuffing bit missing: wait for the next preamble
            elif len(self.bits) >= 17:
                data = bytes(int("".join(map(str, self.bits[i:i + 8])), 2)
                             for k in range(0, len(self.bits) - len(self.bits) % 17, 17)
                             for i in (k, k + 8))
                n = data[0] | data[1] << 8
                need = 2 + n + n % 2 + 4
                if len(data) >= need:
                    payload = data[2:2 + n]
                    crc = struct.unpack_from("<I", data, 2 + n + n % 2)[0]
                    self.frames.append((payload, crc == zlib.crc32(payload)))
                    self.bits = None
        elif self.zeros >= 17 and bit == 1:
            self.bits = []  # the 1 after the preamble: the first word follows
        self.zeros = self.zeros + 1 if bit == 0 else 0


def main(folder):
    for path in sorted(glob.glob(os.path.join(folder, "*.pcap.gz"))):
        name = os.path.basename(path)
        kinds, pulses, markers, flagged = Counter(), Counter(), 0, 0
        lh1 = [Ootx(), Ootx()]
        lh2 = defaultdict(Ootx)
        flash, first_station = None, None  # [end, longest length, slot]
        for r in light_reports(path):
            kinds[r[0]] += 1
            if r[0] == 0x25:
                for k in range(1, len(r) - 6, 7):
                    pd, length, ts = struct.unpack_from("<BHI", r, k)
                    if pd == 0xFF:
                        continue
                    if pd == 0xFE or length == 0xFFFF:
                        markers += 1
                        continue
                    if length >= 0x8000:
                        flagged += 1
                        continue
                    pulses[pd] += 1
                    if length < 2000:
                        continue
                    end = (ts + length) % 2**32
                    if flash and abs((end - flash[0] + 2**31) % 2**32 - 2**31) < 1000:
                        flash[1] = max(flash[1], length)  # the same flash, another photodiode
                        continue
                    if flash:
                        lh1[flash[2]].add((max(flash[1] - 2750, 0) // 500 >> 1) & 1)
                    phase = None if first_station is None else (end - first_station) % 2**32 % 400000
                    slot = 1 if phase is not None and 12000 < phase < 28000 else 0
                    if slot == 0:
                        first_station = end
                    flash = [end, length, slot]
            elif r[0] == 0x28 and len(r) >= 2:
                body, channel, k = r[2:2 + r[1]], None, 0
                while k < len(body):
                    if body[k] & 1:
                        channel, k = body[k] >> 4, k + 1
                        continue
                    if k + 4 > len(body):
                        break
                    word = struct.unpack_from("<I", body, k)[0]
                    k += 4
                    if word & 2:
                        pulses[word >> 27] += 1
                    elif channel is not None:
                        lh2[channel].add(word >> 26 & 1)
        if flash:
            lh1[flash[2]].add((max(flash[1] - 2750, 0) // 500 >> 1) & 1)
        print(f"{name} reports=" + ",".join(f"{k:02x}:{v}" for k, v in sorted(kinds.items())) +
              f" markers={markers} flagged={flagged}")
        print(f"{name} pulses=" + ",".join(f"{pd}:{n}" for pd, n in sorted(pulses.items())))
        stations = [(f"slot{i}", d) for i, d in enumerate(lh1)] + \
                   [(f"channel{c}", lh2[c]) for c in sorted(lh2)]
        for where, decoder in stations:
            frames = Counter()
            for payload, ok in decoder.frames:
                fw, ident = struct.unpack_from("<HI", payload) if len(payload) >= 6 else (0, 0)
                frames[(ident, fw, len(payload), ok)] += 1
            for (ident, fw, n, ok), count in sorted(frames.items()):
                print(f"{name} station {where} id={ident:08X} firmware={fw >> 6} "
                      f"protocol={fw & 0x3F} length={n} crc_ok={int(ok)} frames={count}")

if __name__ == "__main__":
    main(sys.argv[1])
