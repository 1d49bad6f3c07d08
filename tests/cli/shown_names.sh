# Names in messages show control bytes escaped (a backslash doubled only
# where it could be read as an escape), so that no name forges a line or
# drives the terminal; the report keeps their exact bytes.
mkdir d
bad_log "d/new"$'\n'"E Fake error line.txt"; bad_log d/$'\e[2J\t\x7f'.txt; bad_log 'd/a\new\.txt'
run trcforge --report=r.json d
/usr/bin/python3 -c 'import json, os
print([os.path.exists(json.loads(line)["input"]) for line in open("r.json") if "input" in line])'
