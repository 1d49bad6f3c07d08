#!/usr/bin/python3
"""pycan_convert.py: the python-can converter a user would write today, kept as
a yardstick for the throughput benchmark.

    /usr/bin/python3 bench/pycan_convert.py input.txt output.trc

It reads a text log with the csv module (the header's value separator, CR LF
or LF line ends), builds one can.Message per record line with an absolute
timestamp (time-of-day stamps on the header's date, wraps corrected by time
format 1, 2 or 3, steps back skipped) and hands it to python-can's own trace
writer, can.io.trc.TRCWriter (trace version 2.1). Columns Timestamp, Type, ID
and Data are used wherever they stand; the others are passed over. Prints the
number of frames written to standard output and exits 0.
"""
import calendar
import csv
import sys

import can
from can.io.trc import TRCWriter


def header_value(line):
    """Returns the text after the first ': ' of a header line, line end cut."""
    return line[line.index(": ") + 2:].rstrip("\r\n")


def main(argv):
    if len(argv) != 3:
        print("usage: pycan_convert.py input.txt output.trc", file=sys.stderr)
        return 2
    separator, time_format, base, start_h, start_m = ";", 0, 0, 0, 0
    frames = 0
    with open(argv[1], newline="", encoding="latin-1") as source:
        # Header lines, then the column-title line.
        title = None
        for line in source:
            if not line.startswith("#"):
                title = line.rstrip("\r\n")
                break
            if "Time: " in line and "Time format" not in line:
                v = header_value(line)
                base = calendar.timegm((int(v[0:4]), int(v[4:6]), int(v[6:8]), 0, 0, 0))
                start_h, start_m = int(v[9:11]), int(v[11:13])
            elif "Value separator: " in line:
                v = header_value(line)
                if len(v) == 3 and v[0] == '"':
                    separator = v[1]
            elif "Time format: " in line:
                time_format = int(header_value(line))
        if title is None:
            print("no column-title line", file=sys.stderr)
            return 1
        names = title.split(separator)[:7]
        col_ts, col_type = names.index("Timestamp"), names.index("Type")
        col_id, col_data = names.index("ID"), names.index("Data")
        period = {1: 60, 2: 3600, 3: 86400}.get(time_format, 0)

        wrap, last_parsed, last_accepted = 0, float("-inf"), float("-inf")
        writer = TRCWriter(argv[2])
        try:
            for row in csv.reader(source, delimiter=separator):
                # Timestamp: "[[HH:]MM:]SS.mmm" on the header's date; hours and
                # minutes missing from the field come from the header's time.
                parts = row[col_ts].replace(".", ":").split(":")
                ms = int(parts[-1])
                seconds = int(parts[-2])
                seconds += 60 * (int(parts[-3]) if len(parts) > 2 else start_m)
                seconds += 3600 * (int(parts[-4]) if len(parts) > 3 else start_h)
                ts = wrap + base + seconds + ms * 0.001
                if ts < last_parsed and period and ts - last_parsed + period < period - 1:
                    wrap += period
                    ts += period
                last_parsed = ts
                if ts < last_accepted:
                    continue
                last_accepted = ts

                kind = row[col_type][:1]
                data = bytes.fromhex(row[col_data][:16])
                msg = can.Message(
                    timestamp=ts,
                    arbitration_id=int(row[col_id], 16),
                    is_extended_id=kind in ("1", "9"),
                    is_rx=kind not in ("8", "9"),
                    dlc=len(data),
                    data=data,
                    channel=0,
                )
                writer.on_message_received(msg)
                frames += 1
        finally:
            writer.stop()
    print(frames)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
