#include "app/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <string>
#include <thread>

#include "fs/temporary_files.h"
#include "log/log.h"

namespace {

// Memory that runs out in a converting thread, where nothing catches it:
// the temporary output goes, the reason is said, the status is a failure.
TEST(ProcessDeathTest, MemoryThatRunsOutEndsTheRunCleanly) {
  char folder[] = "/tmp/trcforge-process-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string temp = std::string(folder) + "/.a.trc.Xy12zw";
  auto run = [&] {
    log_set_level(LOG_WARN);
    install_signal_handlers();
    temporary_file_list(temp);
    std::FILE* file = std::fopen(temp.c_str(), "w");
    if (file == nullptr) _exit(3);
    std::fclose(file);
    temporary_file_made();
    std::thread([] { throw std::bad_alloc(); }).join();
  };
  EXPECT_EXIT(run(), testing::ExitedWithCode(129), "^trcforge: out of memory; temporary files removed\n$");
  EXPECT_NE(access(temp.c_str(), F_OK), 0);
  rmdir(folder);
}

// A stop while another thread is between listing a temporary file and
// making it: the stop waits for it, so that the file goes too.
TEST(ProcessDeathTest, AStopWaitsForAFileBeingMade) {
  char folder[] = "/tmp/trcforge-process-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string temp = std::string(folder) + "/.b.trc.Qw34er";
  auto run = [&] {
    std::atomic<bool> listed{false};
    std::thread maker([&] {
      temporary_file_list(temp);
      listed = true;
      usleep(100000);
      std::fclose(std::fopen(temp.c_str(), "w"));
      temporary_file_made();
    });
    while (!listed) usleep(1000);
    temporary_files_remove_all();
    maker.join();
    _exit(access(temp.c_str(), F_OK) == 0 ? 1 : 0);
  };
  EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
  unlink(temp.c_str());
  rmdir(folder);
}

}  // namespace
