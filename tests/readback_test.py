#!/usr/bin/python3
"""Reads trcforge's ASC, candump and CSV files back with readers written by
others, on every bundled example and a generated log of every layout, and
the bundled night session joined into one output of every format.

The reference frames are python-can's reading of the version 1.1 trace of
the same log. can.ASCReader, can.CanutilsLogReader and the csv module must
give the same frames (identifier, extended flag, direction where the format
has one, length, data), and so must can-utils' converters: asc2log (our ASC
to candump) and log2asc (our candump to ASC), read with python-can. Every
absolute time must be the log's own record time to the microsecond, as a
reading of the log that is not trcforge's tells it: gen_log's --times list,
or the example's time fields read here.

Usage: readback_test.py <trcforge> <gen_log> <examples folder>   (run with TZ=UTC)
"""

import csv
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import can

TRCFORGE = GEN_LOG = EXAMPLES = None
# asc2log leaves the summer-time flag of the date it parses unset: in a zone
# whose summer time is UTC as well, either value of it gives the same time.
ASC2LOG_ENV = dict(os.environ, TZ="UTC0DST0,M3.5.0,M10.5.0")
WRAP_SECONDS = {"0": None, "1": 60, "2": 3600, "3": 86400}


def micros(seconds):
    return round(seconds * 1e6)


def frames_of(messages, direction=True):
    """(frames, times in microseconds) of python-can messages."""
    messages = list(messages)
    return ([(m.arbitration_id, m.is_extended_id, m.is_rx if direction else None, m.dlc, bytes(m.data))
             for m in messages], [micros(m.timestamp) for m in messages])


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    return ([(int(r["id"], 16), r["extended"] == "1", r["direction"] == "Rx", int(r["dlc"]),
              bytes.fromhex(r["data"])) for r in rows],
            [int(r["timestamp"].replace(".", "")) for r in rows])


def example_oracle(path):
    """(microseconds, identifier, data) of every record of an example log,
    from its header's time, time format and columns and each record's time
    field; a time that steps back has wrapped by the format's unit."""
    header, records = {}, []
    with open(path, newline="") as f:
        lines = f.read().splitlines()
    for line in lines:
        if line.startswith("# "):
            key, _, value = line[2:].partition(": ")
            header[key] = value.strip('"')
    separator = header["Value separator"]
    body = [line for line in lines if line and not line.startswith("#")]
    columns = body[0].split(separator)
    start = datetime.datetime.strptime(header["Time"], "%Y%m%dT%H%M%S").replace(
        tzinfo=datetime.timezone.utc)
    wrap = WRAP_SECONDS.get(header.get("Time format", "0"))
    last = micros(start.timestamp())
    for line in body[1:]:
        record = dict(zip(columns, line.split(separator)))
        text = record["Timestamp"]
        if wrap is None:
            stamp = datetime.datetime.strptime(text, "%Y/%m/%d %H:%M:%S.%f").replace(
                tzinfo=datetime.timezone.utc)
            us = micros(stamp.timestamp())
        else:
            fields = reversed(text.split(":"))  # seconds with milliseconds, minutes, hours
            of_unit = sum(round(float(v) * 1e6) * 60 ** i for i, v in enumerate(fields))
            us = micros(start.timestamp() // wrap * wrap) + of_unit
            while us < last:
                us += wrap * 1000000
        last = us
        records.append((us, int(record["ID"], 16), bytes.fromhex(record["Data"])))
    return records


def generated_oracle(path):
    """gen_log's --times list: (microseconds, identifier or None, data)."""
    entries = []
    with open(path) as f:
        for line in f:
            fields = line.split()
            known = fields[1] == "R"
            entries.append((int(fields[0]), int(fields[2], 16) if known else None,
                            bytes.fromhex(fields[3]) if known and len(fields) > 3 else b""))
    return entries


def expected_times(frames, oracle):
    """The time each reference frame must have, or None for a frame of an
    edge-case line (identifier None), whatever its time; and whether edge-case
    lines came before it since the last record (they may have moved the
    reader's wrap offset by whole days)."""
    expected, i, edge_lines = [], 0, False
    for us, identifier, data in oracle:
        if identifier is None:
            edge_lines = True
            continue
        while i < len(frames) and (frames[i][0], frames[i][4]) != (identifier, data):
            expected.append((None, True))
            i += 1
        assert i < len(frames), f"no frame for the record at {us} us"
        expected.append((us, edge_lines))
        i += 1
        edge_lines = False
    return expected + [(None, True)] * (len(frames) - i)


def wrong_times(times, expected):
    """The frames whose time is not the record's own, shifted by the days
    that edge-case lines before them may have added."""
    day, shift, wrong = 86400 * 1000000, 0, []
    for k, (t, (want, may_shift)) in enumerate(zip(times, expected)):
        if want is None:
            continue
        if may_shift and t >= want + shift and (t - want) % day == 0:
            shift = t - want
        if t != want + shift:
            wrong.append((k, t, want + shift))
    return wrong


class ReadBack(unittest.TestCase):
    def check_log(self, log, oracle):
        with tempfile.TemporaryDirectory(prefix="trcforge-readback-") as folder:
            path = os.path.join(folder, "log.txt")
            shutil.copyfile(log, path)
            for fmt in ("version1", "asc", "candump", "csv"):
                result = subprocess.run([TRCFORGE, "--verbosity", "1", "-f", fmt, path],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stderr)
            base = os.path.join(folder, "log")
            reference, _ = frames_of(can.TRCReader(base + ".trc"))
            expected = expected_times(reference, oracle)
            subprocess.run(["asc2log", "-I", base + ".asc", "-O", base + "-asc2log.log"],
                           env=ASC2LOG_ENV, check=True, capture_output=True)
            subprocess.run(["log2asc", "-I", base + ".log", "-O", base + "-log2asc.asc", "can0"],
                           check=True, capture_output=True)
            readings = {
                "ASCReader": (frames_of(can.ASCReader(base + ".asc", relative_timestamp=False)), reference),
                "CanutilsLogReader": (frames_of(can.CanutilsLogReader(base + ".log")), reference),
                "csv": (read_csv(base + ".csv"), reference),
                "asc2log": (frames_of(can.CanutilsLogReader(base + "-asc2log.log")), reference),
                "log2asc": (frames_of(can.ASCReader(base + "-log2asc.asc")), reference),
            }
            for name, ((frames, times), want) in readings.items():
                self.assertEqual(frames, want, f"{log}: {name}")
                if name == "log2asc":  # seconds since the first frame
                    times = [t + expected[0][0] for t in times]
                self.assertEqual(wrong_times(times, expected), [], f"{log}: {name} times")
            return len(reference)

    def test_examples(self):
        for root, _, names in os.walk(EXAMPLES):
            for name in sorted(names):
                log = os.path.join(root, name)
                with self.subTest(log=log):
                    oracle = example_oracle(log)
                    self.assertEqual(self.check_log(log, oracle), len(oracle))

    def test_night_session_joined(self):
        """The night session's two splits joined (--join-splits) into one
        output of every format that python-can or the csv module reads: the
        frames of both version 1.1 traces of a run without the join, in
        order, at the same times."""
        with tempfile.TemporaryDirectory(prefix="trcforge-readback-join-") as folder:
            night = os.path.join(folder, "night")
            shutil.copytree(os.path.join(EXAMPLES, "night_shift"), night)
            subprocess.run([TRCFORGE, "--verbosity", "1", "-f", "version1", "-X", night], check=True)
            traces = sorted(n for n in os.listdir(night) if n.endswith(".trc"))
            self.assertEqual(len(traces), 2)
            want_frames = sum((frames_of(can.TRCReader(os.path.join(night, n)))[0] for n in traces), [])
            want_times = [us for n in traces for us, _, _ in example_oracle(os.path.join(night, n[:-4] + ".txt"))]
            readers = {"version1": lambda p: frames_of(can.TRCReader(p)),
                       "asc": lambda p: frames_of(can.ASCReader(p, relative_timestamp=False)),
                       "candump": lambda p: frames_of(can.CanutilsLogReader(p)), "csv": read_csv,
                       "blf": lambda p: frames_of(can.BLFReader(p))}
            for fmt, read in readers.items():
                with self.subTest(format=fmt):
                    out = os.path.join(folder, fmt)
                    os.mkdir(out)
                    subprocess.run([TRCFORGE, "--verbosity", "1", "--join-splits", "-f", fmt, "-O", out, night],
                                   check=True)
                    outputs = os.listdir(os.path.join(out, "night_out"))
                    self.assertEqual(len(outputs), 1, outputs)
                    frames, times = read(os.path.join(out, "night_out", outputs[0]))
                    if fmt == "version1":  # a version 1.1 trace reads as times since its first frame
                        times = [t + want_times[0] for t in times]
                    self.assertEqual((frames, times), (want_frames, want_times))

    def test_generated_layouts(self):
        layouts = subprocess.run([GEN_LOG, "--list-layouts"], capture_output=True, text=True,
                                 check=True).stdout.splitlines()
        with tempfile.TemporaryDirectory(prefix="trcforge-readback-gen-") as folder:
            for layout in [line.split()[0] for line in layouts]:
                with self.subTest(layout=layout):
                    log, times = os.path.join(folder, "gen.txt"), os.path.join(folder, "gen.times")
                    subprocess.run([GEN_LOG, "--records", "600", "--layout", layout, "--seed", "3",
                                    "--out", log, "--times", times], check=True, capture_output=True)
                    self.assertGreater(self.check_log(log, generated_oracle(times)), 500)


if __name__ == "__main__":
    os.environ["TZ"] = "UTC"  # python-can reads the ASC date as local time
    time.tzset()
    TRCFORGE, GEN_LOG, EXAMPLES = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
