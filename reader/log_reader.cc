// The text log reader as its users see it: opening, and the reading of every
// record, one by one or in chunks.
#include "reader/log_reader.h"

#include <new>

#include "reader/chunked_reading.h"
#include "reader/reader_state.h"

LogReader::LogReader(std::unique_ptr<ReaderState> state) : state_(std::move(state)) {}

LogReader::~LogReader() = default;

std::unique_ptr<LogReader> LogReader::open(Stream* stream, std::string name) {
  if (stream == nullptr) return nullptr;
  auto state = std::unique_ptr<ReaderState>(new (std::nothrow) ReaderState{});
  if (state == nullptr) return nullptr;
  state->stream = stream;
  state->name = std::move(name);
  if (!read_log_opening(state.get())) return nullptr;
  return std::unique_ptr<LogReader>(new LogReader(std::move(state)));
}

const LogHeader& LogReader::header() const { return state_->header; }
const ColumnKind* LogReader::columns() const { return state_->column_kinds; }
const std::string& LogReader::title_note() const { return state_->title_note; }
int64_t LogReader::data_start() const { return state_->data_start; }

bool LogReader::read_frames(TakeFrame take, WorkQueue* helpers, size_t chunk_bytes) {
  ReaderState* state = state_.get();
  if (!reader_rewind(state)) {
    reader_note_read_failure(state, errno != 0 ? errno : EIO);
    return false;
  }
  if (helpers != nullptr) return read_in_chunks(state, helpers, take, chunk_bytes);
  return reader_pass_frames(state, take);
}

void LogReader::continue_after(double last_accepted_time) { state_->last_accepted_time = last_accepted_time; }

double LogReader::last_accepted_time() const { return state_->last_accepted_time; }

ReadEnd LogReader::end() const {
  if (state_->read_failed) return ReadEnd::kReadFailed;
  if (state_->data_after_zero) return ReadEnd::kDataAfterZero;
  return ReadEnd::kComplete;
}

int LogReader::read_error() const { return state_->read_error; }

ReadCounts LogReader::counts() const {
  const ReaderState& s = *state_;
  return ReadCounts{s.record_lines,         s.skipped_records, s.early_records,   s.first_early_line,
                    s.malformed_lines,      s.first_malformed_line, s.inexact_records, s.first_inexact_line};
}

uint64_t LogReader::bytes_taken() const { return state_->bytes_taken; }
