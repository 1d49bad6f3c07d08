#include "fs/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

// What was a file when it was listed may be a pipe, a device or a folder
// when it is opened: reading one fails at once, without a system reason,
// instead of waiting for a writer or reading the device.
TEST(FileSystem, OnlyRegularFilesOpenToBeRead) {
  char folder[] = "/tmp/trcforge-fs-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string root = folder;
  ASSERT_EQ(mkfifo((root + "/pipe.txt").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", (root + "/device.txt").c_str()), 0);
  ASSERT_EQ(mkdir((root + "/folder.txt").c_str(), 0700), 0);
  Status status;
  std::unique_ptr<FileSystem> fs = FileSystem::open_root(root + "/", &status);
  ASSERT_NE(fs, nullptr);
  for (const char* name : {"pipe.txt", "device.txt", "folder.txt"}) {
    Status opened;
    EXPECT_EQ(fs->open(name, Access::kRead, &opened), nullptr) << name;
    EXPECT_FALSE(opened.ok()) << name;
    EXPECT_EQ(opened.error(), 0) << name;
  }
  for (const char* name : {"pipe.txt", "device.txt", "folder.txt"}) remove((root + "/" + name).c_str());
  rmdir(folder);
}

}  // namespace
