#include "app/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
    std::thread([] { throw std::bad_alloc(); }).join();
  };
  EXPECT_EXIT(run(), testing::ExitedWithCode(129), "^trcforge: out of memory; temporary files removed\n$");
  EXPECT_NE(access(temp.c_str(), F_OK), 0);
  rmdir(folder);
}

}  // namespace
