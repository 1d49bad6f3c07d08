#include "app/run_config.h"

#include <gtest/gtest.h>

#include "formats/formats.h"
#include "fs/file_system.h"

namespace {

int released = 0;
void count_release(OutputSettings*) { ++released; }

// Under AddressSanitizer a double release of the shared file system, or a
// leak of a separate one, fails this test.
TEST(RunConfigTest, ReleaseCallsTheHookAndFreesEachFileSystemOnce) {
  const OptionExtension extension{nullptr, nullptr, count_release};
  released = 0;
  for (bool shared : {true, false}) {
    RunConfig* config = config_new();
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->hooks, &format_option_extension);
    config->hooks = &extension;
    config->input_fs = fs_new("/tmp/", 5);
    config->output_fs = shared ? config->input_fs : fs_new("/", 1);
    config_free(config);
  }
  EXPECT_EQ(released, 2);
  config_free(nullptr);
}

}  // namespace
