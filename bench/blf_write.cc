// blf_write: converts one text log into a BLF file with BlfWriter, through a
// plain file sink, and tells how long the writer took.
//
//   blf_write [--level N] [--no-thread] [--encode-only] LOG OUT
//
// The log is read with the project's log reader. --no-thread keeps the
// compression on the writer's thread. By default the frames go to
// the writer as they are read, as a conversion hands them over. With
// --encode-only they are all read into memory first and only the writer is
// timed. Prints one line "frames=<n> bytes=<output size> seconds=<writer
// time>" (seconds only with --encode-only) and exits 0; a log without frames
// makes no OUT. Exits 2 on a bad argument, 1 when the log cannot be read or
// OUT cannot be written.
#include <chrono>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/blf_format.h"
#include "reader/log_reader.h"
#include "stream/stream.h"

namespace {

// An output file written with stdio, through a window of its own.
class FileSink : public OutputSink {
 public:
  explicit FileSink(FILE* file) : file_(file) {}
  void overwrite(uint64_t offset, const void* bytes, size_t count) override {
    flush();
    if (!ok()) return;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fwrite(bytes, 1, count, file_) != count ||
        fseeko(file_, 0, SEEK_END) != 0) {
      fail(Status::failure("Could not write BLF header", errno));
    }
  }
  uint64_t size() const override { return size_ + (cursor_ != nullptr ? static_cast<uint64_t>(cursor_ - window_) : 0); }
  // Closes the file; false when a write or the close failed.
  bool close() {
    flush();
    const bool closed = std::fclose(file_) == 0;
    if (!closed) fail(Status::failure("Could not close BLF file", errno));
    return ok();
  }

 protected:
  char* make_room(size_t) override {
    flush();
    if (!ok()) return nullptr;
    cursor_ = window_;
    limit_ = window_ + sizeof window_;
    return cursor_;
  }

 private:
  void flush() {
    const size_t count = cursor_ != nullptr ? static_cast<size_t>(cursor_ - window_) : 0;
    cursor_ = limit_ = nullptr;
    if (count == 0 || !ok()) return;
    if (std::fwrite(window_, 1, count, file_) != count) return fail(Status::failure("Could not write BLF data", errno));
    size_ += count;
  }

  FILE* file_;
  uint64_t size_ = 0;
  char window_[1 << 16];
};

struct Options {
  int level = BlfWriter::kDefaultLevel;
  bool encode_only = false;
  bool behind = true;
  const char* log = nullptr;
  const char* out = nullptr;
};

bool parse_options(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (std::strcmp(argv[i], "--level") == 0 && i + 1 < argc) {
      options->level = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--no-thread") == 0) {
      options->behind = false;
    } else if (std::strcmp(argv[i], "--encode-only") == 0) {
      options->encode_only = true;
    } else {
      return false;
    }
  }
  if (argc - i != 2) return false;
  options->log = argv[i];
  options->out = argv[i + 1];
  return true;
}

// Hands every frame of the log to take until take returns false; false when
// the log cannot be read.
template <typename Take>
bool read_frames(const char* path, Take&& take) {
  Stream* file = file_stream_open(path, FILE_STREAM_READ);
  Stream* stream = file != nullptr ? buffered_reader_new(file, true, 1 << 20) : nullptr;
  if (stream == nullptr) {
    if (file != nullptr) stream_close(file);
    return false;
  }
  bool read = false;
  if (std::unique_ptr<LogReader> reader = LogReader::open(stream, path)) {
    reader->read_frames(take);
    read = reader->end() != ReadEnd::kReadFailed;
  }
  stream_close(stream);
  return read;
}

// The output file, made at the first frame as a conversion makes it.
class BlfFile {
 public:
  explicit BlfFile(const Options& options) : options_(options) {}

  // Writes the frame; false once the output failed.
  bool take(const CanFrame& frame) {
    if (writer_ == nullptr && !open(frame)) return false;
    writer_->write(frame);
    ++frames_;
    return sink_->ok();
  }
  // Ends the file; false when it failed, with the reason on standard error.
  bool finish() {
    if (sink_ == nullptr) return opened_;
    writer_->end();
    if (sink_->close()) return true;
    std::fprintf(stderr, "blf_write: %s: %s\n", options_.out, sink_->status().message().c_str());
    return false;
  }
  int64_t frames() const { return frames_; }
  uint64_t bytes() const { return sink_ != nullptr ? sink_->size() : 0; }

 private:
  bool open(const CanFrame& first) {
    FILE* file = std::fopen(options_.out, "wb");
    if (file == nullptr) {
      std::fprintf(stderr, "blf_write: cannot create %s: %s\n", options_.out, std::strerror(errno));
      return opened_ = false;
    }
    sink_ = std::make_unique<FileSink>(file);
    writer_ = std::make_unique<BlfWriter>(*sink_, options_.level, options_.behind);
    writer_->begin(first);
    return true;
  }

  const Options& options_;
  bool opened_ = true;  // false when OUT could not be created
  std::unique_ptr<FileSink> sink_;
  std::unique_ptr<BlfWriter> writer_;
  int64_t frames_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    std::fprintf(stderr, "usage: blf_write [--level N] [--no-thread] [--encode-only] LOG OUT\n");
    return 2;
  }
  BlfFile out(options);
  bool read = true;
  bool written = true;
  double seconds = 0;
  if (options.encode_only) {
    std::vector<CanFrame> frames;
    read = read_frames(options.log, [&](const CanFrame& frame) {
      frames.push_back(frame);
      return true;
    });
    const auto start = std::chrono::steady_clock::now();
    for (const CanFrame& frame : frames) {
      if (!out.take(frame)) break;
    }
    written = out.finish();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } else {
    read = read_frames(options.log, [&](const CanFrame& frame) { return out.take(frame); });
    written = out.finish();
  }
  if (!read) std::fprintf(stderr, "blf_write: could not read %s\n", options.log);
  if (!read || !written) return 1;
  std::printf("frames=%" PRId64 " bytes=%" PRIu64, out.frames(), out.bytes());
  if (options.encode_only) std::printf(" seconds=%.6f", seconds);
  std::printf("\n");
  return 0;
}
