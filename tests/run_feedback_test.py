#!/usr/bin/python3
"""What a run tells its user and its scripts: the status line and summary on a
terminal (read back through a pseudo-terminal), the --report JSON lines
checked against the files on disk, and a reason on standard error for every
exit status but 0 and help.

    run_feedback_test.py TRCFORGE [TestCase ...]
"""
import fcntl
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import tty
import unittest

BINARY = None
LOG_LINE = re.compile(rb"\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ +\d+ [WEF] [^\r\n]*\n")
STATUS = re.compile(r"\d+/\d+\+? files  [\d.]+/[\d.]+\+? MB  [\d.]+ MB/s(  \d+:\d\d(:\d\d)? left)?(  .*)?")
SUMMARY = re.compile(rb"Done: (\d+) converted, (\d+) failed, (\d+) passed over, (\d+) inputs deleted; "
                     rb"(\d+) outputs, (\d+) frames, [\d.]+ MB read in [\d.]+ s \([\d.]+ MB/s\)\n")
HEADER = ("# Logger type: VorlatBeta\n# Session No.: 1\n# Split No.: {split}\n# Time: 20240115T093000\n"
          "# Value separator: \";\"\n# Time separator: \":\"\n# Time separator ms: \".\"\n"
          "Timestamp;Type;ID;Length;Data\n")


def write_log(path, frames, split=1, extra=""):
    """A log of `frames` frames one millisecond apart, then `extra` lines."""
    milliseconds = ["%03d;0;123;2;AABB\n" % n for n in range(1000)]
    parts = [HEADER.format(split=split)]
    for second in range((frames + 999) // 1000):
        clock = "%02d:%02d:%02d." % (second // 3600, second // 60 % 60, second % 60)
        parts += [clock + text for text in milliseconds[:min(1000, frames - second * 1000)]]
    with open(path, "wb") as out:
        out.write(("".join(parts) + extra).encode())


def run(args, cwd, **kwargs):
    return subprocess.run([BINARY] + args, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, **kwargs)


class TempCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="trcforge-feedback-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def at(self, *parts):
        return os.path.join(self.dir, *parts)


class StatusLineTest(TempCase):
    COLUMNS = 80

    def make_tree(self, big_frames=3):
        # A long first log keeps the line up for several redraws, under a
        # name too long for the terminal (the runs read it straight from the
        # file, -b 0, which takes most of a second where the window takes a
        # tenth); two broken logs then log errors while it stands.
        deep = self.at("logs", "a_folder_with_a_name_far_too_long_for_the_line")
        os.makedirs(deep)
        write_log(os.path.join(deep, "big.txt"), big_frames)
        for n in range(20):
            write_log(os.path.join(deep, "log%02d.txt" % n), 3, split=n + 2)
        for name in ("b_bad.txt", "c_bad.txt"):
            with open(self.at("logs", name), "w") as out:
                out.write("no header\n")

    def run_in_terminal(self, args, columns=COLUMNS, both=False):
        """Runs trcforge with standard error (and standard output too, when
        both) on a pseudo-terminal; returns (status, standard output, what the
        terminal received)."""
        master, slave = os.openpty()
        tty.setraw(slave)  # no line-end translation: the bytes as written
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        process = subprocess.Popen([BINARY] + args, cwd=self.dir, stdin=subprocess.DEVNULL,
                                   stdout=slave if both else subprocess.PIPE, stderr=slave)
        os.close(slave)
        drawn = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO: the program closed the terminal
                break
            if not chunk:
                break
            drawn += chunk
        os.close(master)
        out = process.stdout.read() if process.stdout else b""
        return process.wait(), out, drawn

    def test_line_is_redrawn_in_place_with_diagnostics_above_and_a_summary_after(self):
        self.make_tree(big_frames=2000000)
        status, out, drawn = self.run_in_terminal(["-b", "0", "logs"])
        self.assertEqual(status, 8)
        self.assertEqual(out, b"")
        # Every write but the first starts by clearing the line drawn before
        # (a carriage return, as many blanks as it had, a carriage return),
        # then writes whole diagnostic lines, then the new status line.
        pieces = re.split(rb"\r( *)\r", drawn)
        self.assertEqual(pieces[0], b"")
        lines_drawn, errors, previous = [], [], ""
        for blanks, piece in zip(pieces[1::2], pieces[2::2]):
            self.assertEqual(len(blanks), len(previous), "the clear covers the line drawn before")
            above = b"".join(LOG_LINE.findall(piece))
            self.assertTrue(piece.startswith(above), piece)
            errors += [line.split(b" E ", 1)[1] for line in LOG_LINE.findall(piece)]
            previous = piece[len(above):].decode()
            if previous:
                lines_drawn.append(previous)
        summary = SUMMARY.fullmatch(previous.encode())
        self.assertIsNotNone(summary, "the last write is the summary: %r" % previous[-200:])
        self.assertEqual(summary.groups(), (b"21", b"2", b"0", b"0", b"21", b"2000060"))
        self.assertEqual(errors, [b"Could not open log\n", b"Error during conversion of logs/b_bad.txt\n",
                                  b"Could not open log\n", b"Error during conversion of logs/c_bad.txt\n"])
        status_lines = lines_drawn[:-1]
        self.assertGreaterEqual(len(status_lines), 2, drawn[:500])
        for line in status_lines:
            self.assertRegex(line, STATUS)
            self.assertLess(len(line), self.COLUMNS)
        self.assertRegex(status_lines[0], r"^0/23 files .*  \.\.\.[a-z_]+_line/big\.txt$")
        self.assertEqual(len(status_lines[0]), self.COLUMNS - 1)

    def test_a_narrow_line_keeps_whole_fields_and_the_report_goes_above_it(self):
        # At 40 columns the name and then the time left are left out, no
        # field is cut; the report's lines on the same terminal never join
        # the line (each write clears it first, as for a diagnostic line).
        self.make_tree(big_frames=2000000)
        status, _, drawn = self.run_in_terminal(["-b", "0", "--report=-", "logs"], columns=40, both=True)
        self.assertEqual(status, 8)
        reports, status_lines = [], []
        for piece in re.split(rb"\r *\r", drawn)[1:]:
            *whole, last = piece.split(b"\n")
            for line in whole:
                if not (LOG_LINE.fullmatch(line + b"\n") or SUMMARY.fullmatch(line + b"\n")):
                    reports.append(json.loads(line))
            if last:
                status_lines.append(last.decode())
        self.assertEqual([r.get("summary", False) for r in reports], [False] * 23 + [True])
        self.assertGreaterEqual(len(status_lines), 2, drawn[:500])
        for line in status_lines:
            self.assertRegex(line, "^(%s)$" % STATUS.pattern)
            self.assertLess(len(line), 40)

    def test_scripts_see_only_the_diagnostic_lines(self):
        self.make_tree()
        redirected = run(["logs"], self.dir)
        shutil.rmtree(self.at("logs_out"))
        status, _, drawn = self.run_in_terminal(["--non-interactive", "logs"])
        messages = [re.sub(rb"^.{18} +\d+ +\d+ ", b"", line) for line in redirected.stderr.splitlines(True)]
        self.assertEqual(redirected.returncode, status)
        self.assertEqual(len(messages), 4)
        self.assertEqual(b"".join(LOG_LINE.findall(redirected.stderr)), redirected.stderr)
        self.assertEqual(b"".join(LOG_LINE.findall(drawn)), drawn)
        self.assertEqual([re.sub(rb"^.{18} +\d+ +\d+ ", b"", line) for line in drawn.splitlines(True)], messages)


class ReportTest(TempCase):
    def make_tree(self):
        os.makedirs(self.at("logs", "sub"), exist_ok=True)
        write_log(self.at("logs", "a.txt"), 2)
        with open(self.at("logs", "b.txt"), "w") as out:
            out.write("# Logger type: VorlatBeta\n")  # no session or split: refused
        with open(self.at("logs", "c.csv"), "w") as out:
            out.write("not a log\n")
        write_log(self.at("logs", "k.txt"), 3, split=2,
                  extra="00:00:00.000;0;1;0;\n00:00:00.001;0;1;0;\nbroken\n00:00:00.005;0;800;1;11\n")
        write_log(os.fsencode(self.at("logs", "n")) + b"\xff\xfe.txt", 4, split=3)
        write_log(self.at("logs", "sub", "d.txt"), 5, split=4)

    def test_lines_match_the_files_on_disk(self):
        self.make_tree()
        sizes = {os.fsencode(os.path.join(root, name)): os.path.getsize(os.path.join(root, name))
                 for root, _, names in os.walk(self.at("logs")) for name in names}
        result = run(["-d", "--report=report.json", "logs", "missing.txt"], self.dir)
        self.assertEqual(result.returncode, 9, result.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), ["logs", "logs_out", "report.json"])
        with open(self.at("report.json"), "rb") as report:
            objects = [json.loads(line) for line in report]
        summary = objects.pop()

        def path_of(obj, key):
            return bytes.fromhex(obj[key + "_hex"]) if key + "_hex" in obj else os.fsencode(obj[key])

        base = os.fsencode(self.dir) + b"/"
        self.assertEqual([path_of(o, "input") for o in objects],
                         [base + p for p in (b"logs/a.txt", b"logs/b.txt", b"logs/c.csv", b"logs/k.txt",
                                             b"logs/n\xff\xfe.txt", b"logs/sub/d.txt", b"missing.txt")])
        self.assertEqual(objects[4]["input"], self.at("logs", "n\ufffd\ufffd.txt"))
        expected = {  # status, frames, skipped records, malformed lines, inexact records, deleted
            b"a.txt": ("converted", 2, 0, 0, 0, True), b"b.txt": ("failed", 0, 0, 0, 0, False),
            b"c.csv": ("skipped", 0, 0, 0, 0, False), b"k.txt": ("failed", 4, 2, 1, 1, False),
            b"n\xff\xfe.txt": ("converted", 4, 0, 0, 0, True), b"d.txt": ("converted", 5, 0, 0, 0, True),
            b"missing.txt": ("failed", 0, 0, 0, 0, False)}
        for obj in objects:
            name = os.path.basename(path_of(obj, "input"))
            self.assertEqual(list(obj)[:11], ["input", "output", "status", "reason", "frames", "skipped_records",
                                              "malformed_lines", "inexact_records", "bytes", "deleted", "seconds"])
            self.assertEqual((obj["status"], obj["frames"], obj["skipped_records"], obj["malformed_lines"],
                              obj["inexact_records"], obj["deleted"]), expected[name], obj)
            self.assertEqual(obj["reason"] is None, obj["status"] != "failed", obj)
            self.assertEqual(obj["bytes"], sizes.get(path_of(obj, "input"), 0))
            self.assertEqual(os.path.exists(path_of(obj, "input")), name != b"missing.txt" and not obj["deleted"])
            if obj["output"] is None:
                continue
            with open(path_of(obj, "output"), "rb") as trace:
                self.assertEqual(sum(1 for line in trace if not line.startswith(b";")), obj["frames"])
        self.assertEqual(path_of(objects[4], "output"), base + b"logs_out/n\xff\xfe.trc")
        self.assertIsNone(objects[1]["output"])
        self.assertEqual(objects[1]["reason"], "Could not open log")
        self.assertIn("Keeping input file logs/k.txt", objects[3]["reason"])
        self.assertEqual(objects[6]["reason"], "Could not find input file/folder missing.txt")
        totals = {key: sum(o[src] for o in objects) for key, src in (
            ("frames", "frames"), ("bytes", "bytes"), ("skipped_records", "skipped_records"),
            ("malformed_lines", "malformed_lines"), ("inexact_records", "inexact_records"), ("deleted", "deleted"))}
        for key, status in (("converted", "converted"), ("failed", "failed"), ("skipped", "skipped")):
            totals[key] = sum(o["status"] == status for o in objects)
        self.assertEqual(summary, dict(summary, summary=True, files=7, exit_status=9, **totals))

        # On standard output at verbosity 0 the same lines, reasons included.
        shutil.rmtree(self.at("logs_out"))
        self.make_tree()
        quiet = run(["-d", "--verbosity=0", "--report=-", "logs", "missing.txt"], self.dir)
        self.assertEqual((quiet.returncode, quiet.stderr), (9, b""))
        strip = [dict(o, seconds=0) for o in objects]
        self.assertEqual([dict(json.loads(line), seconds=0) for line in quiet.stdout.splitlines()[:-1]], strip)


class ExitTest(TempCase):
    ROWS = [  # arguments, status, first line on standard error (after the context)
        (["missing.txt"], 1, "E Could not find input file/folder missing.txt"),
        (["d/bad.txt"], 8, "E Could not open log"),
        (["fifo"], 129, "E Input fifo is neither a file nor a folder"),
        (["nofolder/x.txt"], 129, "E Could not open the folder of the inputs .*/nofolder/ \\(No such file"),
        (["-O", "nope", "d"], 129, "E Invalid output path: .*/nope"),
        (["--report=nope/r.json", "d"], 129, "E Could not write report file nope/r.json \\(No such file"),
        (["d", "--verbosity"], 130, 'E option "--verbosity" requires an argument'),
        (["-b", "abc", "d"], 131, 'E invalid argument "abc" to option -b\\|--buffer=<n>'),
        (["--verbosity=9", "d"], 131, "E Verbosity 9 is not one of 0 to 5"),
        (["/x.txt"], 132, "F Could not find root for /x.txt"),
        (["d", "x/y.txt"], 132, "F No common root detected for all inputs"),
        (["--bogus", "d"], 134, 'E invalid option "--bogus"'),
        (["-d"], 134, "E missing option file\\(s\\)/folder\\(s\\)"),
    ]

    def test_every_failed_run_says_why_unless_told_to_be_silent(self):
        os.makedirs(self.at("d"))
        os.mkfifo(self.at("fifo"))
        with open(self.at("d", "bad.txt"), "w") as out:
            out.write("no header\n")
        for args, status, first in self.ROWS:
            result = run(args, self.dir)
            self.assertEqual(result.returncode, status, args)
            self.assertRegex(result.stderr.decode().split("\n")[0], "^.{18} +\\d+ +\\d+ " + first, args)
            if "--verbosity" not in " ".join(args):
                quiet = run(["--verbosity=0"] + args, self.dir)
                self.assertEqual((quiet.returncode, quiet.stderr), (status, b""), args)
        help_run = run(["--help"], self.dir)
        self.assertEqual((help_run.returncode, help_run.stderr), (129, b""))


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
