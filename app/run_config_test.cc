#include "app/run_config.h"

#include <gtest/gtest.h>

#include "convert/file_system.h"
#include "trace/backend.h"
#include "trace/trace_writer.h"

namespace {

int released = 0;
void count_release(RunConfig*) { ++released; }

TEST(RunConfigTest, AFreshConfigurationHasTheTraceBackEndsExtension) {
  RunConfig* config = config_new();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->hooks, &trace_option_extension);
  EXPECT_EQ(config->options.buffer_size, -1);
  EXPECT_EQ(config->trace_version, 0);
  EXPECT_TRUE(config->inputs.empty());
  EXPECT_TRUE(config->root.empty());
  EXPECT_EQ(config->input_fs, nullptr);
  config_free(config);
  config_free(nullptr);
}

TEST(RunConfigTest, ReleaseCallsTheHookAndFreesEachFileSystemOnce) {
  const OptionExtension extension{nullptr, nullptr, count_release};
  released = 0;
  RunConfig* config = config_new();
  ASSERT_NE(config, nullptr);
  config->hooks = &extension;
  config->input_fs = fs_new("/tmp/", 5);
  config->output_fs = config->input_fs;
  config_free(config);  // AddressSanitizer reports a double release
  EXPECT_EQ(released, 1);

  config = config_new();
  config->hooks = &extension;
  config->input_fs = fs_new("/tmp/", 5);
  config->output_fs = fs_new("/", 1);
  config_free(config);  // and a leak of either
  EXPECT_EQ(released, 2);
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
  EXPECT_EQ(job->input_fs, fs);
  EXPECT_TRUE(job->make_dirs);
  EXPECT_EQ(job->frame_count, 0u);
  EXPECT_EQ(job->options, &options);
  EXPECT_EQ(job->writer, &writer);
  EXPECT_TRUE(job->last_logger_id.empty());
  EXPECT_EQ(job->last_session_no, 0);
  EXPECT_EQ(job->last_split_no, 0);
  EXPECT_EQ(job->log, nullptr);
  job_free(job);
  job_free(nullptr);
  fs_free(fs);
}

}  // namespace
