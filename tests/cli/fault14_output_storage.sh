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
