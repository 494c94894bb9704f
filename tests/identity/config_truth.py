#!/usr/bin/env python3
"""The factory configuration reads in the real captures, decoded with tshark's
fields, Python's zlib and json alone (never brisk's code): one line per device
whose configuration read ended, and one per answer to 0x01. Its output is
checked in as tests/data/real/config_expected.txt, which identity_test
compares its own reading with; the identity_config_truth test runs this again
and compares.

    tests/identity/config_truth.py tests/data/real > tests/data/real/config_expected.txt

tshark pairs each completion with its request (usb.request_in, by URB), so
the interleaved control transfers of two programs stay apart.
"""
import glob, json, os, subprocess, sys, zlib

FIELDS = ["frame.number", "usb.device_address", "usb.urb_type", "usb.urb_status",
          "usb.bmRequestType", "usb.setup.wValue", "usb.request_in", "usb.control.Response"]


def rows(path):
    out = subprocess.run(["tshark", "-r", path, "-Y", "usb.transfer_type == 2", "-T", "fields"] +
                         sum([["-e", f] for f in FIELDS], []),
                         capture_output=True, text=True).stdout
    return [dict(zip(FIELDS, line.split("\t"))) for line in out.splitlines()]


def main(folder):
    for path in sorted(glob.glob(os.path.join(folder, "*.pcap.gz"))):
        asked = {}  # frame of a GET_REPORT request -> its report ID
        reads = {}  # device -> what its configuration read gave
        for r in rows(path):
            if r["usb.urb_type"] == "'S'" and r["usb.bmRequestType"] == "0xa1":
                asked[r["frame.number"]] = int(r["usb.setup.wValue"], 16) & 0xFF
                continue
            report = asked.pop(r["usb.request_in"], None)
            if r["usb.urb_type"] != "'C'" or report is None:
                continue
            dev = int(r["usb.device_address"])
            answer = bytes.fromhex(r["usb.control.Response"].replace(":", ""))
            if report == 0x01 and r["usb.urb_status"] == "0" and answer:
                print(f"{os.path.basename(path)} address={dev} range_modes={answer[1]},{answer[2]}")
            if report not in (0x10, 0x11) or dev not in reads and report == 0x11:
                continue
            read = reads.setdefault(dev, {"requests": 0, "tries": 0, "most_tries": 0,
                                          "chunks": 0, "stream": b"", "ended": False})
            if read["ended"]:
                continue
            read["requests"] += 1
            read["tries"] += 1
            if r["usb.urb_status"] != "0" or not answer:
                continue
            read["most_tries"] = max(read["most_tries"], read["tries"])
            read["tries"] = 0
            if report == 0x10:
                read["declared"] = int.from_bytes(answer[1:3], "big")
            elif answer[1] == 0:
                read["ended"] = True
            else:
                read["chunks"] += 1
                read["stream"] += answer[2:2 + answer[1]]
        for dev, read in sorted(reads.items()):
            if not read["ended"]:
                continue  # a receiver with nothing paired: no answer ever came
            stream = read["stream"]
            text = zlib.decompress(stream[:read["declared"]])
            config = json.loads(text)
            print(f"{os.path.basename(path)} address={dev} declared={read['declared']}"
                  f" chunk_bytes={len(stream)} chunks={read['chunks']} json_bytes={len(text)}"
                  f" serial={config['device_serial_number']}"
                  f" photodiodes={len(config['lighthouse_config']['modelPoints'])}"
                  f" requests={read['requests']} most_tries={read['most_tries']}")


if __name__ == "__main__":
    main(sys.argv[1])
