// The records of a large log parsed in chunks by every converting thread at
// once: the log is read in order and cut at line ends, the chunks are parsed
// by whichever thread is free, and their records are settled (wrap
// correction, the rule of non-decreasing timestamps, counts, messages) and
// handed on in order, exactly as the log reader hands them one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct CanFrame;
struct LogReader;
class HelperQueue;

// Logs larger than this are worth cutting into chunks.
constexpr int64_t kChunkedLogSize = int64_t{4} << 20;

// Bytes read at a time; a chunk is that much, cut back to its last line end.
constexpr size_t kChunkBytes = size_t{1} << 19;

// Reads the records of the open reader (rewound to its first record) in
// chunks parsed on the helpers' threads, and calls take(frame) for each
// accepted frame in order. Stops when take returns false (and returns false).
// Leaves the reader as log_reader_next would at the end: its counts, and
// read_failed and data_after_zero; its bytes_taken grows by each chunk as
// its records are handed on.
bool pass_frames_in_chunks(LogReader* reader, HelperQueue* helpers, const std::function<bool(const CanFrame&)>& take,
                           size_t chunk_bytes = kChunkBytes);
