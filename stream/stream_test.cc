#include "stream/stream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// A temporary file with given contents, removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    char name[] = "/tmp/stream_test_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    path_ = name;
    EXPECT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    close(fd);
  }
  ~TempFile() { unlink(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// An inner stream over memory that counts its calls and can be told to fail
// every read once `fail_from` bytes have been delivered.
struct CountingStream : Stream {
  std::string data;
  int64_t position = 0;
  int reads = 0;
  int seeks = 0;
  int64_t fail_from = -1;
  bool closed = false;
};

int64_t counting_read(Stream* s, void* destination, int64_t count) {
  auto* c = static_cast<CountingStream*>(s);
  ++c->reads;
  if (c->fail_from >= 0 && c->position >= c->fail_from) return -1;
  int64_t left = static_cast<int64_t>(c->data.size()) - c->position;
  if (left <= 0) return 0;
  int64_t take = count < left ? count : left;
  if (c->fail_from >= 0 && c->position + take > c->fail_from) take = c->fail_from - c->position;
  memcpy(destination, c->data.data() + c->position, static_cast<size_t>(take));
  c->position += take;
  return take;
}
int64_t counting_tell(Stream* s) { return static_cast<CountingStream*>(s)->position; }
int64_t counting_seek(Stream* s, int64_t offset, int origin) {
  auto* c = static_cast<CountingStream*>(s);
  ++c->seeks;
  int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? c->position : static_cast<int64_t>(c->data.size());
  if (base + offset < 0) return -1;
  c->position = base + offset;
  return c->position;
}
// Refuses to close (so the test keeps the record) but notes the attempt.
int counting_close(Stream* s) {
  static_cast<CountingStream*>(s)->closed = true;
  return 7;
}
const StreamOps counting_ops = {counting_read, nullptr, counting_tell, counting_seek, counting_close, nullptr, nullptr, nullptr};

CountingStream make_counting(const std::string& data) {
  CountingStream c;
  c.ops = &counting_ops;
  c.data = data;
  return c;
}

TEST(BufferedReaderNew, RoundsTheWindowUpToAMultipleOfEight) {
  auto inner = make_counting("x");
  struct Case {
    int64_t size, capacity;
  } cases[] = {{1, 8}, {7, 8}, {8, 8}, {9, 16}, {4096, 4096}, {4097, 4104}};
  for (const Case& c : cases) {
    Stream* s = buffered_reader_new(&inner, false, c.size);
    ASSERT_NE(s, nullptr);
    auto* reader = static_cast<BufferedReader*>(s);
    EXPECT_EQ(reader->capacity, c.capacity) << c.size;
    EXPECT_EQ(stream_close(s), 0);
  }
}

TEST(BufferedReaderNew, RefusesSizesItCannotServe) {
  auto inner = make_counting("x");
  EXPECT_EQ(buffered_reader_new(&inner, true, 0), nullptr);
  EXPECT_EQ(buffered_reader_new(&inner, true, -1), nullptr);
  EXPECT_EQ(buffered_reader_new(&inner, true, INT64_MAX), nullptr);
  EXPECT_EQ(buffered_reader_new(&inner, true, INT64_MAX - 6), nullptr);
  EXPECT_EQ(buffered_reader_new(nullptr, true, 8), nullptr);
  // The inner stream was left untouched.
  EXPECT_FALSE(inner.closed);
  EXPECT_EQ(inner.reads + inner.seeks, 0);
}

TEST(BufferedReader, LoadsEachWindowOnceAndLeavesAnInnerStreamItDoesNotOwn) {
  auto inner = make_counting("0123456789");
  Stream* s = buffered_reader_new(&inner, false, 8);
  char out[16];
  EXPECT_EQ(stream_read(s, out, 10), 10);
  EXPECT_EQ(inner.reads, 2);
  EXPECT_EQ(stream_read(s, out, 1), 0);
  EXPECT_EQ(stream_read(s, out, 0), 0);
  EXPECT_EQ(stream_close(s), 0);
  EXPECT_FALSE(inner.closed);

  // One byte at a time: every window was loaded once, plus the final read
  // that found the end.
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
  auto bytes = make_counting(data);
  s = buffered_reader_new(&bytes, false, 24);
  std::string got;
  unsigned char byte;
  while (stream_read(s, &byte, 1) == 1) got.push_back(static_cast<char>(byte));
  EXPECT_EQ(got, data);
  EXPECT_EQ(stream_tell(s), 1000);
  EXPECT_EQ(bytes.reads, (1000 + 23) / 24 + 1);
  stream_close(s);
}

TEST(BufferedReader, SeekInsideTheWindowOnlyMovesTheCursor) {
  auto inner = make_counting("abcdefghijklmnop");
  Stream* s = buffered_reader_new(&inner, false, 8);
  char out[8];
  ASSERT_EQ(stream_read(s, out, 5), 5);
  int reads = inner.reads, seeks = inner.seeks;
  EXPECT_EQ(stream_seek(s, 0, SEEK_SET), 0);
  EXPECT_EQ(stream_seek(s, 8, SEEK_SET), 8);  // the very end of the window
  EXPECT_EQ(stream_seek(s, -3, SEEK_CUR), 5);
  EXPECT_EQ(inner.reads, reads);
  EXPECT_EQ(inner.seeks, seeks);
  ASSERT_EQ(stream_read(s, out, 1), 1);
  EXPECT_EQ(out[0], 'f');
  // Leaving the window loads it at the target.
  EXPECT_EQ(stream_seek(s, 13, SEEK_SET), 13);
  auto* reader = static_cast<BufferedReader*>(s);
  EXPECT_EQ(reader->window_start, 13);
  EXPECT_EQ(reader->fill, 3);
  ASSERT_EQ(stream_read(s, out, 3), 3);
  EXPECT_EQ(std::string(out, 3), "nop");
  EXPECT_EQ(stream_seek(s, -1, SEEK_END), 15);
  ASSERT_EQ(stream_read(s, out, 1), 1);
  EXPECT_EQ(out[0], 'p');
  stream_close(s);
}

TEST(BufferedReader, SeekBeyondTheEndKeepsThePosition) {
  auto inner = make_counting("abcdefghijklmnop");
  Stream* s = buffered_reader_new(&inner, false, 8);
  char out[8];
  ASSERT_EQ(stream_read(s, out, 3), 3);
  EXPECT_EQ(stream_seek(s, 100, SEEK_SET), 3);
  int64_t target = 100;
  EXPECT_FALSE(stream_set_position(s, &target));
  EXPECT_EQ(stream_tell(s), 3);
  EXPECT_EQ(stream_seek(s, -1, SEEK_SET), 3);
  EXPECT_EQ(stream_seek(s, 0, 7), -1);
  EXPECT_EQ(stream_seek(s, INT64_MAX, SEEK_CUR), -1);
  ASSERT_EQ(stream_read(s, out, 1), 1);
  EXPECT_EQ(out[0], 'd');
  stream_close(s);
}

TEST(BufferedReader, RandomOperationsMatchTheFile) {
  std::mt19937 rng(12345);
  std::string data;
  for (int i = 0; i < 3000; ++i) data.push_back(static_cast<char>(rng()));
  TempFile file(data);
  for (int64_t size : {1, 8, 13, 64, 5000}) {
    Stream* f = file_stream_open(file.path(), FILE_STREAM_READ);
    Stream* s = buffered_reader_new(f, true, size);
    ASSERT_NE(s, nullptr);
    int64_t model = 0;
    for (int step = 0; step < 3000; ++step) {
      int op = static_cast<int>(rng() % 4);
      if (op == 0) {
        int64_t count = rng() % 100;
        std::string out(static_cast<size_t>(count), '\0');
        int64_t got = stream_read(s, out.data(), count);
        int64_t expect = std::min<int64_t>(count, static_cast<int64_t>(data.size()) - model);
        ASSERT_EQ(got, std::max<int64_t>(expect, 0));
        ASSERT_EQ(out.substr(0, static_cast<size_t>(got)), data.substr(static_cast<size_t>(model), static_cast<size_t>(got)));
        model += got;
      } else if (op == 1) {
        unsigned char byte;
        int64_t got = stream_read(s, &byte, 1);
        if (model < static_cast<int64_t>(data.size())) {
          ASSERT_EQ(got, 1);
          ASSERT_EQ(byte, static_cast<unsigned char>(data[static_cast<size_t>(model)]));
          ++model;
        } else {
          ASSERT_EQ(got, 0);
        }
      } else if (op == 2) {
        int64_t target = rng() % 3000;
        ASSERT_EQ(stream_seek(s, target, SEEK_SET), target);
        model = target;
      } else {
        int64_t offset = static_cast<int64_t>(rng() % 200) - 100;
        if (model + offset < 0 || model + offset >= 3000) continue;
        ASSERT_EQ(stream_seek(s, offset, SEEK_CUR), model + offset);
        model += offset;
      }
      ASSERT_EQ(stream_tell(s), model);
    }
    EXPECT_EQ(stream_close(s), 0);
  }
}

TEST(BufferedReader, PassesAFailedInnerReadOn) {
  auto inner = make_counting("abcdefghijklmnop");
  inner.fail_from = 10;
  Stream* s = buffered_reader_new(&inner, false, 8);
  std::string got;
  unsigned char byte;
  int64_t result;
  while ((result = stream_read(s, &byte, 1)) == 1) got.push_back(static_cast<char>(byte));
  EXPECT_EQ(got, "abcdefghij");
  EXPECT_LT(result, 0);
  // A larger read delivers what it has, then reports the failure.
  stream_seek(s, 6, SEEK_SET);
  char out[16];
  EXPECT_EQ(stream_read(s, out, 8), 4);
  EXPECT_LT(stream_read(s, out, 8), 0);
  stream_close(s);
}

TEST(BufferedReader, FailedCloseOfTheInnerStreamKeepsTheReader) {
  auto inner = make_counting("abc");
  Stream* s = buffered_reader_new(&inner, true, 8);
  EXPECT_EQ(stream_close(s), 7);
  EXPECT_TRUE(inner.closed);
  static_cast<BufferedReader*>(s)->owns_inner = false;  // the reader is still usable
  EXPECT_EQ(stream_close(s), 0);
}

// Each mode's reads, writes and empty slots are checked through the file
// system's open (convert/file_system_test.cc).

// A write-only stream gathers writes in its own buffer: what reaches the file
// and what tell, seek, sync and close see must be as if stdio buffered them.
TEST(FileStream, WritesGatheredInTheBufferReachTheFileInOrder) {
  TempFile file("");
  Stream* w = file_stream_open(file.path(), FILE_STREAM_WRITE);
  ASSERT_NE(w, nullptr);
  auto* f = static_cast<FileStream*>(w);
  std::string expected;
  std::mt19937 random(3);
  // Lines of many lengths, some larger than the whole buffer, across many
  // refills of it; tell counts the bytes not yet handed to the file.
  for (int i = 0; i < 3000; ++i) {
    size_t length = random() % 50 == 0 ? 70000 + random() % 100000 : 1 + random() % 120;
    std::string line(length, static_cast<char>('a' + i % 26));
    ASSERT_EQ(stream_write(w, line.data(), static_cast<int64_t>(line.size())), static_cast<int64_t>(line.size()));
    expected += line;
    ASSERT_EQ(f->position, static_cast<int64_t>(expected.size()));
    if (i % 500 == 0) {
      ASSERT_EQ(stream_tell(w), static_cast<int64_t>(expected.size()));
    }
  }
  EXPECT_EQ(stream_write(w, "", 0), 0);
  // A seek elsewhere hands the pending bytes over first; writing there
  // overwrites.
  ASSERT_EQ(stream_seek(w, 2, SEEK_SET), 2);
  ASSERT_EQ(stream_write(w, "XY", 2), 2);
  expected.replace(2, 2, "XY");
  ASSERT_EQ(stream_seek(w, 0, SEEK_END), static_cast<int64_t>(expected.size()));
  ASSERT_EQ(stream_write(w, "end", 3), 3);
  expected += "end";
  EXPECT_EQ(stream_sync(w), 0);
  std::string synced(expected.size(), '\0');
  FILE* reader = fopen(file.path(), "rb");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(fread(synced.data(), 1, synced.size(), reader), expected.size());
  fclose(reader);
  EXPECT_TRUE(synced == expected);
  ASSERT_EQ(stream_write(w, "tail", 4), 4);
  expected += "tail";
  EXPECT_EQ(stream_close(w), 0);

  Stream* r = file_stream_open(file.path(), FILE_STREAM_READ);
  ASSERT_NE(r, nullptr);
  std::string got(expected.size() + 1, '\0');
  EXPECT_EQ(stream_read(r, got.data(), static_cast<int64_t>(got.size())), static_cast<int64_t>(expected.size()));
  got.resize(expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(stream_close(r), 0);
}

// A write that the file refuses shows as a short write once the buffer is
// handed over, and fails the close.
TEST(FileStream, AFullDeviceFailsTheWriteThatHandsTheBufferOverAndTheClose) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Stream* s = file_stream_open("/dev/full", FILE_STREAM_WRITE);
  ASSERT_NE(s, nullptr);
  std::string line(100, 'x');
  int64_t written = 0;
  int short_writes = 0;
  for (int i = 0; i < 2000; ++i) {
    int64_t n = stream_write(s, line.data(), static_cast<int64_t>(line.size()));
    if (n != static_cast<int64_t>(line.size())) ++short_writes;
    written += n;
  }
  // 2000 lines of 100 bytes fill a 64 KiB buffer three times.
  EXPECT_GE(short_writes, 3);
  EXPECT_LT(written, 200000);
  EXPECT_NE(stream_close(s), 0);

  // Bytes still in the buffer are refused at the close. Once a sync has
  // flushed (and lost) them, the close has nothing left to flush and must
  // still report that the data never arrived.
  for (bool sync_first : {false, true}) {
    s = file_stream_open("/dev/full", FILE_STREAM_WRITE);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_write(s, "hello", 5), 5);
    if (sync_first) {
      EXPECT_NE(stream_sync(s), 0);
    }
    EXPECT_NE(stream_close(s), 0) << sync_first;
  }
}

// Runs body with the file size limit at limit bytes (SIGXFSZ ignored, so a
// write beyond the limit fails with EFBIG), and restores both afterwards.
template <typename Body>
void with_file_size_limit(rlim_t limit, Body body) {
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limit) GTEST_SKIP() << "file size limit too low";
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  body();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, previous);
}

// A sync after a write that failed must fail too, even when nothing is left
// to flush: the bytes of that write never reached the file.
TEST(FileStream, ASyncAfterAFailedWriteFails) {
  TempFile file("");
  with_file_size_limit(100000, [&] {
    Stream* s = file_stream_open(file.path(), FILE_STREAM_WRITE);
    ASSERT_NE(s, nullptr);
    std::string block(65536, 'x');
    EXPECT_EQ(stream_write(s, block.data(), 65536), 65536);  // fills the buffer
    EXPECT_EQ(stream_write(s, "y", 1), 1);                   // the first buffer reaches the file
    EXPECT_EQ(stream_write(s, block.data(), 65535), 65535);  // fills the buffer again
    EXPECT_EQ(stream_write(s, "z", 1), 0);                   // its write stops at the limit
    EXPECT_NE(stream_sync(s), 0);
    EXPECT_NE(stream_close(s), 0);
  });
}

// A write of the stream's own writing thread that falls short at the file
// size limit is checked on a whole trace (tests/cli/file_limit.sh).

TEST(FileStream, OpenFailures) {
  EXPECT_EQ(file_stream_open(nullptr, FILE_STREAM_READ), nullptr);
  EXPECT_EQ(file_stream_open("/nonexistent/dir/file", FILE_STREAM_READ), nullptr);
  TempFile file("abc");
  EXPECT_EQ(file_stream_open(file.path(), 3), nullptr);
  EXPECT_EQ(file_stream_open(file.path(), -1), nullptr);
}

TEST(FileStream, SeekToTheTrackedPositionSkipsTheFile) {
  TempFile file("0123456789");
  Stream* s = file_stream_open(file.path(), FILE_STREAM_READ);
  char out[4];
  ASSERT_EQ(stream_read(s, out, 3), 3);
  auto* f = static_cast<FileStream*>(s);
  EXPECT_EQ(f->position, 3);
  // Move the stdio file behind the stream's back: a seek to the tracked
  // position must not touch it.
  ASSERT_EQ(fseeko(f->file, 7, SEEK_SET), 0);
  EXPECT_EQ(stream_seek(s, 3, SEEK_SET), 3);
  EXPECT_EQ(ftello(f->file), 7);
  // Any other seek goes to the file and takes its position.
  EXPECT_EQ(stream_seek(s, 1, SEEK_CUR), 8);
  EXPECT_EQ(stream_seek(s, -2, SEEK_END), 8);
  EXPECT_EQ(stream_seek(s, 0, 3), -1);
  EXPECT_EQ(stream_seek(s, -5, SEEK_SET), -1);
  EXPECT_EQ(stream_close(s), 0);
}

TEST(FileStream, ReadErrorIsNotTheEnd) {
  // Reading a folder opened as a file fails with an error, not an end.
  Stream* s = file_stream_open("/tmp", FILE_STREAM_READ);
  ASSERT_NE(s, nullptr);
  char out[4];
  EXPECT_LT(stream_read(s, out, 4), 0);
  Stream* b = buffered_reader_new(s, true, 8);
  ASSERT_NE(b, nullptr);
  EXPECT_LT(stream_read(b, out, 1), 0);
  EXPECT_EQ(stream_close(b), 0);
}

TEST(Stream, GenericEntryPointsOnMissingArgumentsAndEmptySlots) {
  EXPECT_EQ(stream_close(nullptr), 0);
  EXPECT_EQ(stream_size(nullptr), -1);
  int64_t position = 0;
  EXPECT_FALSE(stream_get_position(nullptr, &position));
  EXPECT_FALSE(stream_set_position(nullptr, &position));
  auto inner = make_counting("abc");
  EXPECT_FALSE(stream_get_position(&inner, nullptr));
  EXPECT_FALSE(stream_set_position(&inner, nullptr));
  // A buffered reader neither writes nor syncs.
  Stream* s = buffered_reader_new(&inner, false, 8);
  EXPECT_EQ(stream_write(s, "x", 1), -2);
  EXPECT_EQ(stream_sync(s), -2);
  stream_close(s);
}

TEST(Stream, SizeRestoresThePositionAndEmptyFileIsZero) {
  for (const std::string& contents : {std::string(), std::string("0123456789")}) {
    TempFile file(contents);
    Stream* s = file_stream_open(file.path(), FILE_STREAM_READ);
    char byte;
    EXPECT_EQ(stream_read(s, &byte, 1), contents.empty() ? 0 : 1);
    EXPECT_EQ(stream_size(s), static_cast<int64_t>(contents.size()));
    EXPECT_EQ(stream_tell(s), contents.empty() ? 0 : 1);
    stream_close(s);
  }
  std::string data = "abcdefghij";
  Stream* m = memory_stream_new(data.data(), 10);
  Stream* b = buffered_reader_new(m, true, 4);
  char out[4];
  ASSERT_EQ(stream_read(b, out, 3), 3);
  // The inner stream knows its size; the reader's window is left alone.
  EXPECT_EQ(stream_size(m), 10);
  EXPECT_EQ(stream_tell(b), 3);
  ASSERT_EQ(stream_read(b, out, 1), 1);
  EXPECT_EQ(out[0], 'd');
  // The end of the data lies outside this reader's window and nothing can be
  // loaded there, so the reader stays where it is and reports that position.
  EXPECT_EQ(stream_size(b), 4);
  EXPECT_EQ(stream_tell(b), 4);
  stream_close(b);
}

TEST(MemoryStream, ReadsSeeksAndRefusesBadArguments) {
  EXPECT_EQ(memory_stream_new(nullptr, 3), nullptr);
  EXPECT_EQ(memory_stream_new("a", -1), nullptr);
  Stream* s = memory_stream_new("abcdef", 6);
  char out[8];
  EXPECT_EQ(stream_read(s, out, 4), 4);
  EXPECT_EQ(stream_read(s, out, 4), 2);
  EXPECT_EQ(stream_read(s, out, 4), 0);
  EXPECT_EQ(stream_seek(s, -7, SEEK_END), -1);
  EXPECT_EQ(stream_seek(s, 10, SEEK_SET), 10);
  EXPECT_EQ(stream_read(s, out, 4), 0);
  EXPECT_EQ(stream_write(s, "x", 1), -2);
  EXPECT_EQ(stream_close(s), 0);
}

}  // namespace
