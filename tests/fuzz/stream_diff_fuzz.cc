// A BufferedReader of arbitrary capacity over a FileStream against the
// FileStream alone, both on the same temporary file, under the same
// arbitrary sequence of reads, seeks, tells and size queries.
//
// Both must deliver the same bytes and report the same positions, except
// where the two designs differ on purpose:
// - a seek to a position the window cannot load (the end of the data, when
//   the window does not reach it, or beyond it) leaves the reader where it
//   was and returns that old position, where the file stream moves there;
// - a seek to a negative position is refused by the file stream (-1) and
//   returns the old position from the reader (SEEK_SET, SEEK_CUR) or -1
//   (SEEK_END, refused by the file stream inside it); the same holds for a
//   target beyond the largest file the file system allows;
// - the size of a reader whose window does not reach the end is its own
//   position, as its seek to the end does not move it.
// In every such case the reader must not have moved; the file stream is
// then put back to the reader's position and the comparison goes on.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stream/stream.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// The temporary file, made once per process and rewritten for every input.
const char* temp_path() {
  static std::string path = [] {
    const char* dir = getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                          "/trcforge-stream-fuzz-XXXXXX";
    int fd = mkstemp(pattern.data());
    CHECK(fd >= 0);
    close(fd);
    atexit([] { unlink(temp_path()); });
    return pattern;
  }();
  return path.c_str();
}

void write_file(const std::string& bytes) {
  int fd = open(temp_path(), O_WRONLY | O_TRUNC);
  CHECK(fd >= 0);
  CHECK(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int64_t capacity = 1 + in.take<uint16_t>() % 4096;
  const size_t length = in.take<uint16_t>() % 4096;
  std::string content;
  for (size_t i = 0; i < length && !in.empty(); ++i) content.push_back(static_cast<char>(in.take<uint8_t>()));
  const int64_t file_size = static_cast<int64_t>(content.size());
  write_file(content);

  Stream* file = file_stream_open(temp_path(), FILE_STREAM_READ);
  Stream* inner = file_stream_open(temp_path(), FILE_STREAM_READ);
  CHECK(file != nullptr && inner != nullptr);
  Stream* reader = buffered_reader_new(inner, true, capacity);
  CHECK(reader != nullptr);
  const auto* window = static_cast<BufferedReader*>(reader);
  CHECK(window->capacity % 8 == 0 && window->capacity >= capacity && window->capacity < capacity + 8);

  std::vector<unsigned char> from_reader(20000), from_file(20000);
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const int64_t before = stream_tell(reader);
    CHECK(before == stream_tell(file));
    CHECK(before >= 0 && before <= file_size);
    switch (in.take<uint8_t>() % 4) {
      case 0: {  // read
        const int64_t count = in.take<uint16_t>() % 20000;
        int64_t got_reader = stream_read(reader, from_reader.data(), count);
        int64_t got_file = stream_read(file, from_file.data(), count);
        CHECK(got_reader == got_file);
        CHECK(got_reader >= 0 && got_reader <= count);
        CHECK(memcmp(from_reader.data(), from_file.data(), static_cast<size_t>(got_reader)) == 0);
        break;
      }
      case 1: {  // seek
        const uint8_t how = in.take<uint8_t>();
        const int origin = how % 4;  // 3 is no origin at all
        const int64_t offset = (how & 4) ? in.take<int64_t>() : in.take<int16_t>();
        int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? before : file_size;
        int64_t target = 0;
        const bool overflow = __builtin_add_overflow(base, offset, &target);
        int64_t landed_reader = stream_seek(reader, offset, origin);
        int64_t landed_file = stream_seek(file, offset, origin);
        if (origin > SEEK_END) {
          CHECK(landed_reader == -1 && landed_file == -1);
        } else if (overflow || target < 0) {
          CHECK(landed_file < 0);
          CHECK(landed_reader == -1 || landed_reader == before);
          CHECK(stream_tell(reader) == before);
          stream_seek(file, before, SEEK_SET);  // a refused seek may move nothing anyway
        } else if (target < file_size) {
          CHECK(landed_reader == target && landed_file == target);
        } else {
          // At or beyond the end: the file stream moves (unless the target
          // lies beyond the largest file the file system allows); the reader
          // moves only to the end of the data, and only when its window
          // reaches it.
          CHECK(landed_file == target || (landed_file == -1 && target > (int64_t{1} << 40)));
          if (landed_file == -1) {
            // stdio may have dropped its read-ahead on the refused seek, so
            // its position is no longer the one the file stream tracks; a
            // seek from the current position takes stdio's view again before
            // the file stream is put back. (The program never seeks that
            // far: the reader only seeks inside the file.)
            stream_seek(file, 0, SEEK_CUR);
            CHECK(stream_seek(file, before, SEEK_SET) == before);
          }
          if (landed_reader != target) {
            // A seek from the end that the file stream inside refuses fails
            // the reader's seek (-1); otherwise it returns where it stays.
            CHECK(landed_reader == before || (landed_reader == -1 && origin == SEEK_END && landed_file == -1));
            CHECK(stream_tell(reader) == before);
            CHECK(stream_seek(file, before, SEEK_SET) == before);
          } else {
            CHECK(target == file_size);
          }
        }
        break;
      }
      case 2:  // tell, compared at the top of every step
        break;
      case 3: {  // size
        int64_t size_file = stream_size(file);
        int64_t size_reader = stream_size(reader);
        CHECK(size_file == file_size);
        CHECK(size_reader == file_size || size_reader == before);
        CHECK(stream_tell(reader) == before && stream_tell(file) == before);
        break;
      }
    }
  }
  CHECK(stream_close(reader) == 0);
  CHECK(stream_close(file) == 0);
  return 0;
}
