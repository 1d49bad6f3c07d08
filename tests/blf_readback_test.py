#!/usr/bin/python3
"""Reads BLF files back with python-can's can.BLFReader and with tshark, on
every bundled example, a generated log of every layout and logs of the edge
cases (one frame; one object cut at a container's end; containers filled
exactly; 0- and 8-byte frames; the largest extended identifier; times across
midnight and a month end).

Both readings must give the frames of python-can's reading of the version 1.1
trace of the same log (identifier, extended flag, direction, length, data),
and every frame's time must be the log's own record time to the microsecond
(readback_test's oracles).

Usage: blf_readback_test.py <trcforge> <gen_log> <examples folder> <blf_write>   (run with TZ=UTC)
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import can

import readback_test as rb

TRCFORGE = GEN_LOG = EXAMPLES = BLF_WRITE = None
# The payload as bytes: tshark's heuristic dissectors of CAN payloads would
# take some frames' data away from data.data.
TSHARK_PLAIN = ["--disable-protocol", "autosar-nm", "--disable-protocol", "signal_pdu", "--disable-protocol", "ipdum"]
TSHARK_FIELDS = ["frame.time_epoch", "can.id", "can.flags.xtd", "frame.packet_flags_direction", "can.len",
                 "data.data"]
EDGE_HEADER = ("# Logger type: VorlatBeta\n# Session No.: 1\n# Split No.: 1\n# Time: 20240131T235958\n"
               '# Value separator: ";"\n# Time format: 0\n# Time separator: ":"\n# Time separator ms: "."\n'
               '# Date separator: "/"\n# Time and date separator: " "\nTimestamp;Type;ID;Length;Data\n')
EDGE_START_US = 1706745598 * 1000000  # 2024-01-31 23:59:58 UTC


def write_blf(log):
    """Writes log's BLF file beside it, as LOG without .txt plus .blf."""
    base = log[:-len(".txt")]
    subprocess.run([BLF_WRITE, log, base + ".blf"], check=True, capture_output=True)


def read_tshark(path):
    """(frames, times in microseconds) of tshark's reading of a BLF file."""
    out = subprocess.run(["tshark", *TSHARK_PLAIN, "-r", path, "-T", "fields", "-E", "separator=;"] +
                         [a for f in TSHARK_FIELDS for a in ("-e", f)],
                         capture_output=True, text=True, check=True).stdout
    frames, times = [], []
    for line in out.splitlines():
        epoch, ident, xtd, direction, length, data = line.split(";")
        seconds, nanos = epoch.split(".")
        times.append(int(seconds) * 1000000 + round(int(nanos) / 1000))
        frames.append((int(ident), xtd == "1", int(direction, 16) == 1, int(length), bytes.fromhex(data)))
    return frames, times


def edge_log(path, count):
    """A log of count frames 1 ms apart from EDGE_START_US on: every length
    from 0 to 8, both directions, standard and extended identifiers up to the
    largest. Returns its oracle (microseconds, identifier, data)."""
    oracle, lines = [], []
    for i in range(count):
        us = EDGE_START_US + i * 1000
        extended, length = i % 3 != 0, i % 9
        ident = 0x1FFFFFFF - i if extended else 0x7FF - i % 0x800
        data = bytes((i * 7 + k) & 0xFF for k in range(length))
        stamp = time.strftime("%Y/%m/%d %H:%M:%S", time.gmtime(us // 1000000)) + ".%03d" % (us // 1000 % 1000)
        lines.append("%s;%d;%X;%d;%s\n" % (stamp, (8 if i % 2 else 0) + extended, ident, length, data.hex()))
        oracle.append((us, ident, data))
    with open(path, "w") as f:
        f.write(EDGE_HEADER + "".join(lines))
    return oracle


class BlfReadBack(unittest.TestCase):
    def check_log(self, log, oracle):
        with tempfile.TemporaryDirectory(prefix="trcforge-blf-") as folder:
            path = os.path.join(folder, "log.txt")
            shutil.copyfile(log, path)
            subprocess.run([TRCFORGE, "--verbosity", "1", "-f", "version1", path], check=True)
            write_blf(path)
            base = os.path.join(folder, "log")
            reference, _ = rb.frames_of(can.TRCReader(base + ".trc"))
            expected = rb.expected_times(reference, oracle)
            readings = {"BLFReader": rb.frames_of(can.BLFReader(base + ".blf")), "tshark": read_tshark(base + ".blf")}
            for name, (frames, times) in readings.items():
                k = next((k for k, pair in enumerate(zip(frames, reference)) if pair[0] != pair[1]), len(frames))
                self.assertTrue(frames == reference, f"{log}: {name}: {len(frames)} frames for {len(reference)}, "
                                f"first difference {frames[k:k + 1]} != {reference[k:k + 1]}")  # no slow list diff
                self.assertEqual(rb.wrong_times(times, expected), [], f"{log}: {name} times")
            return len(reference)

    def test_examples(self):
        for root, _, names in os.walk(EXAMPLES):
            for name in sorted(names):
                log = os.path.join(root, name)
                with self.subTest(log=log):
                    oracle = rb.example_oracle(log)
                    self.assertEqual(self.check_log(log, oracle), len(oracle))

    def test_generated_layouts(self):
        layouts = subprocess.run([GEN_LOG, "--list-layouts"], capture_output=True, text=True,
                                 check=True).stdout.splitlines()
        with tempfile.TemporaryDirectory(prefix="trcforge-blf-gen-") as folder:
            for layout in [line.split()[0] for line in layouts]:
                with self.subTest(layout=layout):
                    log, times = os.path.join(folder, "gen.txt"), os.path.join(folder, "gen.times")
                    subprocess.run([GEN_LOG, "--records", "600", "--layout", layout, "--seed", "3",
                                    "--out", log, "--times", times], check=True, capture_output=True)
                    self.assertGreater(self.check_log(log, rb.generated_oracle(times)), 500)

    def test_edge_cases(self):
        # 2731 objects cut the last one at the first container's end; 8192
        # fill three containers exactly.
        with tempfile.TemporaryDirectory(prefix="trcforge-blf-edge-") as folder:
            for count in (1, 2731, 8192):
                with self.subTest(frames=count):
                    log = os.path.join(folder, "edge.txt")
                    self.assertEqual(self.check_log(log, edge_log(log, count)), count)


if __name__ == "__main__":
    os.environ["TZ"] = "UTC"  # both readers take the file's start time as local time
    time.tzset()
    TRCFORGE, GEN_LOG, EXAMPLES, BLF_WRITE = sys.argv[1:5]
    del sys.argv[1:5]
    unittest.main(verbosity=2)
