#include "stream/stream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <random>
#include <string>

namespace {

std::string temp_path() {
  char name[] = "/tmp/stream_test_XXXXXX";
  close(mkstemp(name));
  return name;
}

std::string read_back(const std::string& path) {
  Stream* in = file_stream_open(path.c_str(), FILE_STREAM_READ);
  std::string text(1 << 24, '\0');
  text.resize(static_cast<size_t>(stream_read(in, text.data(), static_cast<int64_t>(text.size()))));
  stream_close(in);
  return text;
}

// Reads and seeks at random through windows of several sizes (rounded up to
// a multiple of 8) and checks every byte and position against the data.
TEST(BufferedReader, RandomReadsAndSeeksMatchTheData) {
  std::mt19937 random(12345);
  std::string data(3000, '\0');
  for (char& c : data) c = static_cast<char>(random());
  for (int64_t size : {1, 7, 13, 64, 5000}) {
    Stream* reader = buffered_reader_new(memory_stream_new(data.data(), 3000), true, size);
    EXPECT_EQ(static_cast<BufferedReader*>(reader)->capacity, (size + 7) / 8 * 8);
    int64_t at = 0;
    for (int step = 0; step < 3000; ++step) {
      if (random() % 3 != 0) {
        char out[100];
        const int64_t count = random() % 100;
        const int64_t got = stream_read(reader, out, count);
        ASSERT_EQ(got, std::min<int64_t>(count, 3000 - at));
        ASSERT_EQ(std::string(out, static_cast<size_t>(got)), data.substr(static_cast<size_t>(at), got));
        at += got;
      } else {
        const int64_t target = random() % 3000;
        const bool relative = random() % 2 != 0;
        ASSERT_EQ(stream_seek(reader, relative ? target - at : target, relative ? SEEK_CUR : SEEK_SET), target);
        at = target;
      }
      ASSERT_EQ(stream_tell(reader), at);
    }
    // The end of a window that holds the end of the data is a place too.
    ASSERT_EQ(stream_seek(reader, 2995, SEEK_SET), 2995);
    EXPECT_EQ(stream_seek(reader, 3000, SEEK_SET), 3000) << size;
    stream_close(reader);
  }
}

// A write-only stream gathers writes in its own buffer and hands full ones
// to a thread of its own: the file must get every byte in order.
TEST(FileStream, WritesReachTheFileInOrder) {
  const std::string path = temp_path();
  Stream* out = file_stream_open(path.c_str(), FILE_STREAM_WRITE);
  std::mt19937 random(3);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const size_t length = random() % 50 == 0 ? 70000 + random() % 100000 : 1 + random() % 120;
    const std::string line(length, static_cast<char>('a' + i % 26));
    ASSERT_EQ(stream_write(out, line.data(), static_cast<int64_t>(length)), static_cast<int64_t>(length));
    expected += line;
  }
  ASSERT_EQ(stream_tell(out), static_cast<int64_t>(expected.size()));
  ASSERT_EQ(stream_seek(out, 2, SEEK_SET), 2);  // hands the pending bytes over first
  ASSERT_EQ(stream_write(out, "XY", 2), 2);
  expected.replace(2, 2, "XY");
  EXPECT_EQ(stream_sync(out), 0);
  EXPECT_EQ(stream_close(out), 0);
  EXPECT_TRUE(read_back(path) == expected);
  unlink(path.c_str());
}

// A write the file refuses fails the write that hands its buffer over, the
// sync and the close, also when a sync already dropped the bytes.
TEST(FileStream, AFailedWriteFailsTheSyncAndTheClose) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  for (bool sync_first : {false, true}) {
    Stream* full = file_stream_open("/dev/full", FILE_STREAM_WRITE);
    EXPECT_EQ(stream_write(full, "hello", 5), 5);
    if (sync_first) {
      EXPECT_NE(stream_sync(full), 0);
    }
    EXPECT_NE(stream_close(full), 0) << sync_first;
  }
  // A file size limit: the first buffer reaches the file, the second stops
  // part way, which the sync must report though nothing is left to flush.
  const std::string path = temp_path();
  struct rlimit saved, limited;
  getrlimit(RLIMIT_FSIZE, &saved);
  limited = saved;
  limited.rlim_cur = 100000;
  auto previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  Stream* out = file_stream_open(path.c_str(), FILE_STREAM_WRITE);
  const std::string block(65536, 'x');
  EXPECT_EQ(stream_write(out, block.data(), 65536), 65536);
  EXPECT_EQ(stream_write(out, "y", 1), 1);
  EXPECT_EQ(stream_write(out, block.data(), 65535), 65535);
  EXPECT_EQ(stream_write(out, "z", 1), 0);
  EXPECT_NE(stream_sync(out), 0);
  EXPECT_NE(stream_close(out), 0);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  unlink(path.c_str());
}

TEST(FileStream, AReadErrorIsNotTheEnd) {
  Stream* folder = file_stream_open("/tmp", FILE_STREAM_READ);  // reading a folder fails
  char out[4];
  EXPECT_LT(stream_read(folder, out, 4), 0);
  Stream* buffered = buffered_reader_new(folder, true, 8);
  EXPECT_LT(stream_read(buffered, out, 1), 0);
  EXPECT_EQ(stream_close(buffered), 0);
}

}  // namespace
