#include "reader/chunked_reading.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "stream/stream.h"

namespace {

struct Chunk {
  std::string bytes;
  bool line_continues = false;  // it begins inside a line the chunk before began
  size_t dropped = 0;           // bytes of the log before it that no chunk holds (carriage returns)
  ParsedChunk parsed;
  std::atomic<bool> done{false};
};

// Cuts the log into chunks at line ends, in order.
class ChunkCutter {
 public:
  ChunkCutter(ReaderState* reader, size_t chunk_bytes) : reader_(reader), chunk_bytes_(chunk_bytes) {}

  // The next chunk; nullptr at the end of the log or after a failed read
  // (read_failed set).
  std::shared_ptr<Chunk> next() {
    while (!end_) {
      read_more();
      auto chunk = cut();
      if (chunk != nullptr) return chunk;
    }
    if (carry_.empty()) return nullptr;
    auto chunk = std::make_shared<Chunk>();
    chunk->bytes.swap(carry_);
    chunk->line_continues = continues_;
    chunk->dropped = dropped_;
    continues_ = false;
    return chunk;
  }

 private:
  void read_more() {
    const size_t old_size = carry_.size();
    carry_.resize(old_size + chunk_bytes_);
    const int64_t got = stream_read(reader_->stream, carry_.data() + old_size, static_cast<int64_t>(chunk_bytes_));
    carry_.resize(old_size + static_cast<size_t>(got > 0 ? got : 0));
    if (got <= 0) end_ = true;
    if (got < 0) reader_note_read_failure(reader_, errno);
  }

  // The whole lines read so far as a chunk, the rest kept; nullptr when no
  // line end came yet.
  std::shared_ptr<Chunk> cut() {
    const size_t feed = carry_.rfind('\n');
    size_t length = feed == std::string::npos ? 0 : feed + 1;
    // A line that runs on for two chunks without a line feed is cut where it
    // stands: it is far beyond the longest line, so it is passed over anyway.
    // But a run of carriage returns reads as a blank line at any length, so
    // it is kept whole, shortened to a run that still fills a line.
    const bool forced = length == 0 && carry_.size() >= 2 * chunk_bytes_ && carry_.size() >= kLineBufferSize;
    if (forced && carry_.find_first_not_of('\r') == std::string::npos) {
      dropped_ += carry_.size() - kLineBufferSize;
      carry_.resize(kLineBufferSize);
      return nullptr;
    }
    if (forced) length = carry_.size();
    if (length == 0) return nullptr;
    auto chunk = std::make_shared<Chunk>();
    chunk->bytes.assign(carry_, 0, length);
    chunk->line_continues = continues_;
    chunk->dropped = dropped_;
    dropped_ = 0;
    carry_.erase(0, length);
    continues_ = forced;
    return chunk;
  }

  ReaderState* reader_;
  const size_t chunk_bytes_;
  std::string carry_;
  bool continues_ = false;
  bool end_ = false;
  size_t dropped_ = 0;
};

// Settles the chunks' records in order and hands the accepted frames on,
// with the warning of skipped records where the reader gives it: before the
// next accepted frame, and at the end.
class Settler {
 public:
  Settler(ReaderState* reader, TakeFrame take) : reader_(reader), take_(take), line_(reader->data_start_line) {}

  // Settles one chunk, whose records are its lines one by one. False when
  // take refused a frame.
  bool settle(const Chunk& chunk) {
    CanFrame frame{};
    for (const ParsedRecord& record : chunk.parsed.records) {
      if (reader_settle(reader_, record, ++line_, &frame) != Settled::kAccepted) continue;
      reader_warn_skipped(reader_);
      if (!take_(frame)) return false;
    }
    return true;
  }

  // The end of the records.
  void finish() { reader_warn_skipped(reader_); }

 private:
  ReaderState* reader_;
  TakeFrame take_;
  uint64_t line_;
};

// Reads the rest of the log after the zero byte that ended the records and
// notes whether anything but padding follows it.
void check_rest_after_zero(ReaderState* reader, const std::deque<std::shared_ptr<Chunk>>& later, ChunkCutter* cutter) {
  for (const auto& chunk : later) {
    if (reader->data_after_zero) return;
    reader_check_after_zero(reader, chunk->bytes.data(), chunk->bytes.size());
  }
  while (!reader->data_after_zero) {
    std::shared_ptr<Chunk> chunk = cutter->next();
    if (chunk == nullptr) return;
    reader_check_after_zero(reader, chunk->bytes.data(), chunk->bytes.size());
  }
}

}  // namespace

bool read_in_chunks(ReaderState* reader, WorkQueue* helpers, TakeFrame take, size_t chunk_bytes) {
  // The parsers copy the reader's setup from here, never from the reader,
  // which the settling changes meanwhile.
  auto setup = std::make_shared<const ReaderState>(*reader);
  const size_t in_flight = 2 * static_cast<size_t>(helpers->threads()) + 1;
  ChunkCutter cutter(reader, chunk_bytes);
  Settler settler(reader, take);
  std::deque<std::shared_ptr<Chunk>> chunks;
  bool taken = true;
  for (;;) {
    while (chunks.size() < in_flight) {
      std::shared_ptr<Chunk> chunk = cutter.next();
      if (chunk == nullptr) break;
      helpers->push([setup, chunk] {
        parse_chunk(*setup, chunk->bytes.data(), chunk->bytes.size(), chunk->line_continues, &chunk->parsed);
        chunk->done.store(true, std::memory_order_release);
      });
      chunks.push_back(std::move(chunk));
    }
    if (chunks.empty()) break;
    const std::shared_ptr<Chunk> front = chunks.front();
    helpers->wait_until([&front] { return front->done.load(std::memory_order_acquire); });
    chunks.pop_front();
    reader->bytes_taken += front->dropped + front->bytes.size();
    taken = settler.settle(*front);
    if (!taken) break;
    if (front->parsed.ended_at_zero) {
      reader->stopped_at_zero = true;
      if (front->parsed.data_after_zero) reader->data_after_zero = true;
      check_rest_after_zero(reader, chunks, &cutter);
      break;
    }
  }
  // Chunks still being parsed hold no pointer into this frame: let them end.
  for (const auto& chunk : chunks) helpers->wait_until([&chunk] { return chunk->done.load(std::memory_order_acquire); });
  if (taken) settler.finish();
  return taken;
}
