// The records of a large log read in chunks by every converting thread at
// once: the log is read in order and cut at line ends, the chunks are parsed
// by whichever thread is free, and their records are settled (wrap
// correction, the rule of non-decreasing timestamps, counts, messages) and
// handed on in order, exactly as the record loop hands them one by one.
#pragma once

#include <cstddef>

#include "reader/reader_state.h"
#include "reader/take_frame.h"
#include "reader/work_queue.h"

// Reads the records of the state (rewound to its first record) in chunks of
// chunk_bytes parsed on the helpers' threads, and calls take(frame) for each
// accepted frame in order. Stops when take returns false (and returns
// false). Leaves the state as the record loop would at the end: its counts,
// read_failed and data_after_zero; its bytes_taken grows by each chunk as
// its records are handed on.
bool read_in_chunks(ReaderState* reader, WorkQueue* helpers, TakeFrame take, size_t chunk_bytes);
