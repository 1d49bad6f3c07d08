#!/usr/bin/python3
"""Reads trcforge's trace files with a reader written by others.

A log that crosses midnight is converted into both versions: version 1.1
goes through python-can's TRCReader, version 2.1 is read by the columns that
its own ";$COLUMNS" line announces (python-can 4.1 reads 2.1 files with a
fixed layout of its own and ignores that line).

Usage: interop_test.py <path of the trcforge binary>
"""
import os
import subprocess
import sys
import tempfile
import unittest

import can

BINARY = None
START = (23 * 3600 + 59 * 60 + 58) * 1000  # 23:59:58.000, milliseconds into the day
# (milliseconds since START, type digit, identifier, data) of each record
FRAMES = [(i * 113 + (i % 3) * 7, "0189"[i % 4],
           [0x000, 0x123, 0x7FF, 0x5, 0x18FEF100, 0x1FFFFFFF, 0x0C0FFEE, 0x100][i % 8] & (~0 if i % 4 in (1, 3) else 0x7FF),
           bytes((i * 37 + k * 11) & 0xFF for k in range(i % 9))) for i in range(48)]


class TraceInteroperability(unittest.TestCase):
    def convert(self, version):
        folder = tempfile.TemporaryDirectory(prefix="trcforge-interop-")
        self.addCleanup(folder.cleanup)
        lines = ["# Logger ID: 5A3F0C21", "# Session No.: 17", "# Split No.: 2", "# Time: 20240229T235958",
                 '# Value separator: ";"', "# Time format: 3", '# Time separator: ":"', '# Time separator ms: "."',
                 "Timestamp;Lost;Type;ID;Length;Data"]
        for offset, type_digit, identifier, data in FRAMES:
            t = (START + offset) % 86400000
            lines.append(f"{t // 3600000:02d}:{t // 60000 % 60:02d}:{t // 1000 % 60:02d}.{t % 1000:03d};0;{type_digit};"
                         f"{identifier:X};{len(data)};{data.hex().upper()}")
        with open(os.path.join(folder.name, "gamma.txt"), "w", newline="") as log:
            log.write("\r\n".join(lines) + "\r\n")
        result = subprocess.run([BINARY, "--verbosity", "3", "-f", version, os.path.join(folder.name, "gamma.txt")],
                                capture_output=True, text=True, check=False)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
        return os.path.join(folder.name, "gamma.trc")

    def check(self, got):
        """got: (identifier, extended, received, data, offset in seconds) per frame."""
        self.assertEqual(len(got), len(FRAMES))
        for (identifier, extended, rx, data, offset), (want_offset, type_digit, want_id, want_data) in zip(got, FRAMES):
            self.assertEqual((identifier, extended, rx, bytes(data)), (want_id, type_digit in "19", type_digit in "01", want_data))
            self.assertAlmostEqual(offset, want_offset / 1000.0, places=6)  # the midnight wrap corrected

    def test_version_1_1_reads_back_with_python_can(self):
        self.check([(m.arbitration_id, m.is_extended_id, m.is_rx, m.data, m.timestamp)
                    for m in can.TRCReader(self.convert("version1"))])

    def test_version_2_1_reads_back_by_its_announced_columns(self):
        with open(self.convert("version2")) as trace:
            lines = trace.read().splitlines()
        self.assertEqual(lines[0], ";$FILEVERSION=2.1")
        # The first frame, 2024-02-29 23:59:58.000 UTC, in days since 1899-12-30.
        self.assertAlmostEqual(float(lines[1].split("=", 1)[1]), 45351 + START / 86400000.0, places=9)
        columns = lines[2].split("=", 1)[1].split(",")
        self.assertEqual(lines[2].split("=")[0], ";$COLUMNS")
        got = []
        for number, line in enumerate(lines[3:], 1):
            fields = line.split()  # one word per column, but the data: the rest of the line
            record = dict(zip(columns, fields[:len(columns) - 1]), D=fields[len(columns) - 1:])
            self.assertEqual((int(record["N"]), record["T"], record["B"], int(record["L"])), (number, "DT", "1", len(record["D"])))
            got.append((int(record["I"], 16), len(record["I"]) == 8, record["d"] == "Rx",
                        bytes(int(byte, 16) for byte in record["D"]), float(record["O"]) / 1000.0))
        self.check(got)


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
