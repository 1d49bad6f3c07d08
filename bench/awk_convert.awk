# awk_convert.awk: the one-pass awk converter a user would write today, kept
# as a yardstick for the throughput benchmark. It reads a text log whose
# record lines carry time-of-day stamps ("23:59:59.999", with wraps by time
# format 1, 2 or 3) and writes a version 2.1 trace to standard output:
#
#   mawk -f bench/awk_convert.awk input.txt > output.trc
#
# It does the work a converter must do for every line: split the fields,
# compose the timestamp, correct a wrap, skip a step back, compute the offset
# from the first frame and format the line with its hexadecimal dump. It
# handles the columns Timestamp, Type, ID and Data in any order (Lost, Length
# and unknown columns are passed over), ";" or another one-character value
# separator, and CR LF line ends. It is not a full converter: no date stamps,
# no malformed-field rules.

# Days from 1970-01-01 to a civil date (proleptic Gregorian calendar).
function days_from_civil(y, m, d,    era, yoe, doy, doe) {
    if (m <= 2) y -= 1
    era = int((y >= 0 ? y : y - 399) / 400)
    yoe = y - era * 400
    doy = int((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5) + d - 1
    doe = yoe * 365 + int(yoe / 4) - int(yoe / 100) + doy
    return era * 146097 + doe - 719468
}

# The value of a "# Key: value" header line: the text after the first ": ".
function header_value(line,    p) {
    p = index(line, ": ")
    return substr(line, p + 2)
}

BEGIN {
    sep = ";"; time_format = 0; base = 0; start_h = 0; start_m = 0; in_header = 1
    wrap = 0; last_parsed = -1e18; last_accepted = -1e18; number = 0
    started = 0
}

{ sub(/\r$/, "") }

in_header && /^#/ {
    if (index($0, "Time: ") == 3 || index($0, "Time: ") == 2) {
        v = header_value($0)
        base = days_from_civil(substr(v, 1, 4) + 0, substr(v, 5, 2) + 0, substr(v, 7, 2) + 0) * 86400
        start_h = substr(v, 10, 2) + 0
        start_m = substr(v, 12, 2) + 0
    } else if (index($0, "Value separator: ")) {
        v = header_value($0)
        if (length(v) == 3 && substr(v, 1, 1) == "\"") sep = substr(v, 2, 1)
    } else if (index($0, "Time format: ")) {
        time_format = header_value($0) + 0
    }
    next
}

in_header {
    # The column-title line: find the position of every column we need.
    in_header = 0
    n = split($0, names, sep)
    col_ts = col_type = col_id = col_data = 0
    for (i = 1; i <= n && i <= 7; i++) {
        if (names[i] == "Timestamp") col_ts = i
        else if (names[i] == "Type") col_type = i
        else if (names[i] == "ID") col_id = i
        else if (names[i] == "Data") col_data = i
    }
    period = (time_format == 1) ? 60 : (time_format == 2) ? 3600 : (time_format == 3) ? 86400 : 0
    FS = sep
    next
}

{
    # Timestamp: the time of day on the header's date (hours and minutes
    # missing from the field come from the header's time), corrected for wraps.
    f = $col_ts
    k = length(f)
    ms = substr(f, k - 2, 3) + 0
    s = substr(f, k - 5, 2) + 0
    m = (k >= 9) ? substr(f, k - 8, 2) + 0 : start_m
    h = (k >= 12) ? substr(f, k - 11, 2) + 0 : start_h
    ts = wrap + base + h * 3600 + m * 60 + s + ms * 0.001
    if (ts < last_parsed && period > 0 && ts - last_parsed + period < period - 1) {
        wrap += period
        ts += period
    }
    last_parsed = ts
    if (ts < last_accepted) next
    last_accepted = ts

    if (!started) {
        started = 1
        start = ts
        days = ts / 86400 + 25569
        whole = int(days)
        printf ";$FILEVERSION=2.1\n;$STARTTIME=%5d.%010.0f\n;$COLUMNS=N,O,T,B,I,d,L,D\n", whole, (days - whole) * 10000000000
    }

    # Type: extended identifier and direction.
    t = $col_type
    ext = (t == "1" || t == "9")
    dir = (t == "8" || t == "9") ? "Tx" : "Rx"

    # Identifier: upper case, zero-padded to 8 (extended) or 4 digits.
    id = toupper($col_id)
    while (length(id) < (ext ? 8 : 4)) id = "0" id

    # Data: pairs of hexadecimal digits, at most 8 bytes, separated by blanks.
    d = toupper($col_data)
    len = int((length(d) + 1) / 2)
    if (len > 8) len = 8
    dump = ""
    for (i = 0; i < len; i++) dump = dump (i ? " " : "") substr(d, 2 * i + 1, 2)

    number++
    printf "%7d %13.3f DT 1 %8s %s %d    %s\n", number, (ts - start) * 1000, id, dir, len, dump
}
