# Outputs that would not survive a restart, and things at an output's name
# that are no file: -d keeps the log in each case, and nothing hangs. A file
# system held in memory, and an overlay whose upper layer is one (each
# mounted in a mount namespace of the case's own); a pipe and a device at the
# output's name.
command -v unshare >/dev/null && unshare -m true 2>/dev/null || skip "cannot make a mount namespace"
mkdir d; small_log d/a.txt; cp d/a.txt a.txt
mount_and_run() {  # SETUP: mounts in a private namespace, then trcforge -d -O out d
  command_of trcforge -d -O out d
  unshare -m bash -c "mkdir -p out mem lower disk/up disk/work; mount -t tmpfs -o size=4m tmpfs mem; $1
    \"\$@\"; echo \"[exit \$?]\"" mount_and_run "${CMD[@]}"
}
for setup in "mount --bind mem out" \
    "mkdir mem/up mem/work; mount -t overlay overlay -o lowerdir=lower,upperdir=mem/up,workdir=mem/work out" \
    "mount -t overlay overlay -o lowerdir=lower,upperdir=disk/up,workdir=disk/work out"; do
  echo "\$ trcforge -d -O out d, out: $setup"
  mount_and_run "$setup"
  tree d; rm -rf out disk; cp a.txt d/a.txt
done
for thing in "mkfifo d_out/a.trc" "ln -s /dev/null d_out/a.trc" "mknod d_out/a.trc c 1 3"; do
  rm -rf d_out; mkdir d_out; $thing 2>/dev/null || { echo "($thing: not permitted)"; continue; }
  echo "\$ trcforge -d d, d_out/a.trc: ${thing%% *}"; command_of trcforge -d d
  timeout 20 "${CMD[@]}"; echo "[exit $?]"; tree d d_out
done
echo "=== a joined session whose second split fills the disk: the output holds the first split whole, the others fail"
mkdir j alone
split_log() {  # FILE SPLIT: 30000 frames 3 ms apart, going on across the splits
  printf '%s\n' "# Logger type: VorlatBeta" "# Logger ID: L1" "# Session No.: 7" "# Split No.: $2" \
    "# Time: 20240115T093000" '# Value separator: ";"' '# Time separator: ":"' '# Time separator ms: "."' \
    "Timestamp;Type;ID;Length;Data" >"$1"
  awk -v sp="$2" 'BEGIN { for (i = 0; i < 30000; i++) { ms = (sp - 1) * 90000 + i * 3
    printf "%02d:%02d:%02d.%03d;0;%X;2;AABB\n", 9, 30 + int(ms / 60000), int(ms / 1000) % 60, ms % 1000, 256 + i % 1000 } }' >>"$1"
}
for i in 1 2 3; do split_log j/s$i.txt $i; done
cp j/s1.txt alone/
mkdir last; cp j/s1.txt j/s2.txt last/  # the split that fails is the session's last
for run in "version1 j" "asc j" "csv j" "version1 last"; do
  set -- $run; format=$1; ext=$(case $format in version1) echo trc ;; *) echo $format ;; esac)
  trcforge_bare -f $format alone/s1.txt
  echo "\$ trcforge --join-splits -f $format -O out $2, out: 2 MiB"
  command_of trcforge --join-splits -f $format -O out $2
  unshare -m bash -c "mkdir -p out; mount -t tmpfs -o size=2m tmpfs out; \"\$@\"; echo \"[exit \$?]\"
    ls out/$2_out; cmp out/$2_out/s1.$ext alone/s1.$ext && echo 'the same as s1 alone'" run_full "${CMD[@]}"
done
tree j last
