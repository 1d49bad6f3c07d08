#!/usr/bin/python3
"""Reads trcforge's trace files with readers written by others.

Version 1.1 files go through python-can's TRCReader; version 2.1 files are
read by the columns that their own ";$COLUMNS" line announces (python-can 4.1
reads 2.1 files with a fixed layout of its own and ignores that line).

Usage: interop_test.py <path of the trcforge binary>
"""

import os
import subprocess
import sys
import tempfile
import unittest

import can

BINARY = None


def make_frames():
    """Frames of a log that crosses midnight: (milliseconds since the log's
    first midnight-relative time, type digit, identifier, data)."""
    frames = []
    start = (23 * 3600 + 59 * 60 + 58) * 1000  # 23:59:58.000
    identifiers = [0x000, 0x123, 0x7FF, 0x5, 0x18FEF100, 0x1FFFFFFF, 0x0C0FFEE, 0x100]
    for i in range(48):
        time_ms = start + i * 113 + (i % 3) * 7
        type_digit = "0189"[i % 4]
        extended = type_digit in "19"
        identifier = identifiers[i % len(identifiers)]
        if not extended:
            identifier &= 0x7FF
        length = i % 9
        data = bytes((i * 37 + k * 11) & 0xFF for k in range(length))
        frames.append((time_ms, type_digit, identifier, data))
    return frames


def clock_text(time_ms):
    time_ms %= 24 * 3600 * 1000
    hours, rest = divmod(time_ms, 3600 * 1000)
    minutes, rest = divmod(rest, 60 * 1000)
    seconds, millis = divmod(rest, 1000)
    return f"{hours:02d}:{minutes:02d}:{seconds:02d}.{millis:03d}"


def make_log(frames):
    lines = [
        "# Logger type: VorlatGamma",
        "# HW rev: 3.1",
        "# FW rev: 7.02",
        "# Logger ID: 5A3F0C21",
        "# Session No.: 17",
        "# Split No.: 2",
        "# Time: 20240229T235958",
        '# Value separator: ";"',
        "# Time format: 3",
        '# Time separator: ":"',
        '# Time separator ms: "."',
        "# Bit-rate: 500000",
        "# Silent mode: false",
        "# Cyclic mode: false",
        "Timestamp;Lost;Type;ID;Length;Data",
    ]
    for time_ms, type_digit, identifier, data in frames:
        lines.append(f"{clock_text(time_ms)};0;{type_digit};{identifier:X};{len(data)};{data.hex().upper()}")
    return "\r\n".join(lines) + "\r\n"


class TraceInteroperability(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="trcforge-interop-")
        self.frames = make_frames()
        self.log_path = os.path.join(self.folder.name, "card", "gamma.txt")
        os.makedirs(os.path.dirname(self.log_path))
        with open(self.log_path, "w", newline="") as log:
            log.write(make_log(self.frames))

    def tearDown(self):
        self.folder.cleanup()

    def convert(self, version):
        result = subprocess.run(
            [BINARY, "--verbosity", "3", "-f", version, self.log_path],
            capture_output=True, text=True, check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stderr, "")
        return os.path.join(self.folder.name, "card", "gamma.trc")

    def check_frame(self, index, identifier, extended, rx, data, offset):
        time_ms, type_digit, want_id, want_data = self.frames[index]
        self.assertEqual(identifier, want_id, index)
        self.assertEqual(extended, type_digit in "19", index)
        self.assertEqual(rx, type_digit in "01", index)
        self.assertEqual(bytes(data), want_data, index)
        self.assertAlmostEqual(offset, (time_ms - self.frames[0][0]) / 1000.0, places=6, msg=index)

    def test_version_1_1_reads_back_with_python_can(self):
        path = self.convert("version1")
        with open(path) as trace:
            self.assertEqual(trace.readline(), ";$FILEVERSION=1.1\n")
        messages = list(can.TRCReader(path))
        self.assertEqual(len(messages), len(self.frames))
        for index, message in enumerate(messages):
            self.assertEqual(message.dlc, len(self.frames[index][3]))
            self.check_frame(index, message.arbitration_id, message.is_extended_id,
                             message.is_rx, message.data, message.timestamp)
        # The wrap at midnight was corrected: the offsets keep growing.
        offsets = [message.timestamp for message in messages]
        self.assertEqual(offsets, sorted(offsets))
        self.assertGreater(offsets[-1], 5.0)

    def test_version_2_1_reads_back_by_its_announced_columns(self):
        path = self.convert("version2")
        with open(path) as trace:
            lines = trace.read().splitlines()
        self.assertEqual(lines[0], ";$FILEVERSION=2.1")
        # The first frame, 2024-02-29 23:59:58.000 UTC, in days since 1899-12-30.
        self.assertTrue(lines[1].startswith(";$STARTTIME="))
        days = float(lines[1].split("=", 1)[1])
        self.assertAlmostEqual(days, 45351 + (23 * 3600 + 59 * 60 + 58) / 86400.0, places=9)
        columns_line = [line for line in lines if line.startswith(";$COLUMNS=")]
        self.assertEqual(len(columns_line), 1)
        columns = columns_line[0].split("=", 1)[1].split(",")
        records = [line for line in lines if not line.startswith(";")]
        self.assertEqual(len(records), len(self.frames))
        for index, line in enumerate(records):
            fields = line.split()
            # Every column holds one word except the data, which holds the
            # rest of the line.
            record = dict(zip(columns, fields[:len(columns) - 1]))
            record["D"] = fields[len(columns) - 1:]
            self.assertEqual(int(record["N"]), index + 1)
            self.assertEqual(record["T"], "DT")
            self.assertEqual(record["B"], "1")
            self.assertEqual(int(record["L"]), len(self.frames[index][3]))
            data = bytes(int(byte, 16) for byte in record["D"])
            identifier = record["I"]
            self.check_frame(index, int(identifier, 16), len(identifier) == 8,
                             record["d"] == "Rx", data, float(record["O"]) / 1000.0)


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
