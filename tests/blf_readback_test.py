#!/usr/bin/python3
"""BLF files read back by python-can's can.BLFReader and by tshark: those of
readback_test's logs, and of edge cases (one frame; an object cut at a
container's end; containers filled exactly; 0- to 8-byte frames; the largest
extended identifier; times across midnight and a month end). Both must give
python-can's frames of the version 1.1 trace, at the logs' own record times.

Usage: blf_readback_test.py <trcforge> <gen_log> <examples folder>   (run with TZ=UTC)
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

# Payloads as plain data: tshark's heuristic dissectors would take some.
TSHARK = ["tshark", "--disable-protocol", "autosar-nm", "--disable-protocol", "signal_pdu", "--disable-protocol",
          "ipdum", "-T", "fields", "-E", "separator=;", "-e", "frame.time_epoch", "-e", "can.id", "-e",
          "can.flags.xtd", "-e", "frame.packet_flags_direction", "-e", "can.len", "-e", "data.data", "-r"]
EDGE_HEADER = ("# Session No.: 1\n# Split No.: 1\n# Time: 20240131T235958\n# Value separator: \";\"\n"
               "# Time format: 3\n# Time separator: \":\"\n# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n")


def write_blf(log):  # LOG.txt into LOG.blf
    subprocess.run([rb.TRCFORGE, "--verbosity", "1", "-f", "blf", log], check=True)


def read_tshark(path):
    """(frames, times in microseconds) as tshark reads them."""
    frames, times = [], []
    for line in subprocess.run(TSHARK + [path], capture_output=True, text=True, check=True).stdout.splitlines():
        epoch, ident, xtd, direction, length, data = line.split(";")
        times.append(int(epoch.replace(".", "")) // 1000)  # nanoseconds: whole microseconds here
        frames.append((int(ident), xtd == "1", direction == "0x00000001", int(length), bytes.fromhex(data)))
    return frames, times


def edge_log(path, count):
    """Writes a log of count frames 1 ms apart from 2024-01-31 23:59:58 UTC;
    returns its oracle (microseconds, identifier, data)."""
    oracle, lines = [], []
    for i in range(count):
        ms, extended, length = 1706745598000 + i, i % 3 != 0, i % 9
        ident, data = 0x20000000 - i if extended else 0x7FF - i % 0x800, bytes(range(i % 200, i % 200 + length))
        lines.append("%s.%03d;%d;%X;%d;%s\n" % (time.strftime("%H:%M:%S", time.gmtime(ms // 1000)), ms % 1000,
                                               (8 if i % 2 else 0) + extended, ident, length, data.hex()))
        oracle.append((ms * 1000, ident, data))
    with open(path, "w") as f:
        f.write(EDGE_HEADER + "".join(lines))
    return oracle


class BlfReadBack(rb.ReadBack):
    def check_log(self, log, oracle):
        with tempfile.TemporaryDirectory(prefix="trcforge-blf-") as folder:
            path, base = os.path.join(folder, "log.txt"), os.path.join(folder, "log")
            shutil.copyfile(log, path)
            subprocess.run([rb.TRCFORGE, "--verbosity", "1", "-f", "version1", path], check=True)
            write_blf(path)
            reference, _ = rb.frames_of(can.TRCReader(base + ".trc"))
            expected = rb.expected_times(reference, oracle)
            readings = {"BLFReader": rb.frames_of(can.BLFReader(base + ".blf")), "tshark": read_tshark(base + ".blf")}
            for name, (frames, times) in readings.items():
                k = next((k for k, pair in enumerate(zip(frames, reference)) if pair[0] != pair[1]), len(frames))
                self.assertTrue(frames == reference, f"{log}: {name}: {len(frames)} frames for {len(reference)}, "
                                f"first difference {frames[k:k + 1]} != {reference[k:k + 1]}")  # no slow list diff
                self.assertEqual(rb.wrong_times(times, expected), [], f"{log}: {name} times")
            return len(reference)

    def test_edge_cases(self):  # 2731 objects: one cut at 128 KiB; 8192: three full containers
        with tempfile.TemporaryDirectory(prefix="trcforge-blf-edge-") as folder:
            for count in (1, 2731, 8192):
                with self.subTest(frames=count):
                    log = os.path.join(folder, "edge.txt")
                    self.assertEqual(self.check_log(log, edge_log(log, count)), count)


if __name__ == "__main__":
    os.environ["TZ"] = "UTC"  # both readers take the file's start time as local time
    time.tzset()
    rb.TRCFORGE, rb.GEN_LOG, rb.EXAMPLES = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
