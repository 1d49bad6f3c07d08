#!/usr/bin/env bash
# The training run of the instrumented trcforge (see cmake/pgo.cmake): converts
# generated logs of every record layout, the default layout weighing most as
# in the field, into every output format, then copies the profile into place
# when its counts differ from the one there.
#   pgo_train.sh TRCFORGE GEN_LOG WORK NEW_PROFILE PROFILE
set -euo pipefail
trcforge=$1 gen_log=$2 work=$3 new_profile=$4 profile=$5

rm -rf "$work" "$new_profile"
mkdir -p "$work/logs" "$work/out" "$profile"
"$gen_log" --size 8M --layout 0 --out "$work/logs/layout0.txt"
for layout in 1 2 3 4 5 6 7 8; do
  "$gen_log" --size 512K --layout "$layout" --seed "$layout" --out "$work/logs/layout$layout.txt"
done
for format in version2 version1 asc candump csv; do
  "$trcforge" --verbosity 0 -f "$format" -O "$work/out" "$work/logs" || true  # a failed log trains too
done

changed=0
for new in "$new_profile"/*.gcda; do
  kept=$profile/$(basename "$new")
  if ! cmp -s "$new" "$kept"; then
    cp "$new" "$kept"
    changed=1
  fi
done
for kept in "$profile"/*.gcda; do
  if [ -e "$kept" ] && [ ! -e "$new_profile/$(basename "$kept")" ]; then
    rm "$kept"
    changed=1
  fi
done
if [ "$changed" = 1 ] || [ ! -e "$profile/profile.stamp" ]; then touch "$profile/profile.stamp"; fi
rm -rf "$work"
