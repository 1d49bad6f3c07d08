// measure_run: runs one command and records its wall time, CPU time and peak
// resident memory, for the throughput benchmark (bench/throughput.py).
//
//   measure_run RESULT_FILE PROGRAM [ARGUMENT...]
//
// The command inherits standard input, output and error. When it has ended,
// RESULT_FILE receives one line "wall=<s> user=<s> sys=<s> maxrss_kib=<n>
// status=<n>" (status: the exit status, or 128 + the signal number).
//
// Why a launcher of its own: Linux carries a process's peak resident size
// across fork and exec, so a command started straight from the Python
// benchmark would report at least the interpreter's own 20-odd MiB. Started
// from this small program it reports its own peak (plus at most this
// launcher's 1 to 2 MiB at the fork).
//
// Exit status: 0 when the command ran and the result was written (whatever
// the command's own status), 2 on a usage error, a failed start or a failed
// write of the result.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure_run RESULT_FILE PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "measure_run: fork: %s\n", std::strerror(errno));
    return 2;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::fprintf(stderr, "measure_run: cannot run %s: %s\n", argv[2], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "measure_run: wait4: %s\n", std::strerror(errno));
      return 2;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double wall = static_cast<double>(end.tv_sec - start.tv_sec) +
                      static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status)
                   : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                         : 255;
  FILE* result = std::fopen(argv[1], "w");
  if (result == nullptr) {
    std::fprintf(stderr, "measure_run: cannot write %s: %s\n", argv[1], std::strerror(errno));
    return 2;
  }
  std::fprintf(result, "wall=%.6f user=%.6f sys=%.6f maxrss_kib=%ld status=%d\n", wall,
               static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec * 1e-6,
               static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec * 1e-6,
               usage.ru_maxrss, code);
  return std::fclose(result) == 0 ? 0 : 2;
}
