#include "app/run_config.h"

#include <gtest/gtest.h>

#include "convert/file_system.h"
#include "output/backend.h"
#include "formats/trace_writer.h"

namespace {

int released = 0;
void count_release(RunConfig*) { ++released; }

// Under AddressSanitizer a double release of the shared file system, or a
// leak of a separate one, fails this test.
TEST(RunConfigTest, ReleaseCallsTheHookAndFreesEachFileSystemOnce) {
  const OptionExtension extension{nullptr, nullptr, count_release};
  released = 0;
  for (bool shared : {true, false}) {
    RunConfig* config = config_new();
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->hooks, &trace_option_extension);
    config->hooks = &extension;
    config->input_fs = fs_new("/tmp/", 5);
    config->output_fs = shared ? config->input_fs : fs_new("/", 1);
    config_free(config);
  }
  EXPECT_EQ(released, 2);
  config_free(nullptr);
}

TEST(RunConfigTest, AJobNeedsAllItBorrows) {
  FileSystem* fs = fs_new("/tmp/", 5);
  ASSERT_NE(fs, nullptr);
  RunOptions options;
  OutputBackend writer;
  output_backend_init(&writer);
  EXPECT_EQ(job_new(nullptr, fs, true, &options, &writer), nullptr);
  EXPECT_EQ(job_new(fs, nullptr, true, &options, &writer), nullptr);
  EXPECT_EQ(job_new(fs, fs, true, nullptr, &writer), nullptr);
  EXPECT_EQ(job_new(fs, fs, true, &options, nullptr), nullptr);
  ConversionJob* job = job_new(fs, fs, true, &options, &writer);
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->frame_count, 0u);
  EXPECT_TRUE(job->last_logger_id.empty());
  job_free(job);  // releases nothing it borrows: fs is released once below
  job_free(nullptr);
  fs_free(fs);
}

}  // namespace
