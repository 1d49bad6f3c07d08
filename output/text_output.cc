#include "output/text_output.h"

#include <cerrno>
#include <new>

#include "log/log.h"

namespace {

constexpr size_t kLineBufferCapacity = 256;

TextOutput* as_output(OutputBackend* backend) { return static_cast<TextOutput*>(backend); }

// Writes the format's header for the first frame in one stream write.
bool write_header(TextOutput* output, const CanFrame& first) {
  if (output->format->append_header == nullptr) return true;
  output->line_buffer.clear();
  output->format->append_header(&output->line_buffer, first);
  const int64_t size = static_cast<int64_t>(output->line_buffer.size());
  if (stream_write(output->file.stream, output->line_buffer.data(), size) == size) return true;
  if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not write CAN header (%s)", fs_reason(errno));
  return false;
}

// Writes the format's footer, if it has one.
bool write_footer(TextOutput* output) {
  if (output->format->append_footer == nullptr) return true;
  output->line_buffer.clear();
  output->format->append_footer(&output->line_buffer);
  return text_output_write_buffer(output);
}

// Opens the output of the file under a temporary name beside output_base +
// the format's extension. False (after logging) when it cannot be created.
bool text_new_file(OutputBackend* backend, OutputFile* file) {
  TextOutput* output = as_output(backend);
  if (output->file.stream != nullptr) pending_file_discard(&output->file);  // end_file was not called
  output->output_path = file->output_base;
  output->output_path += output->format->extension;
  file->output_path = output->output_path;
  output->header_written = false;
  output->message_number = 1;
  output->start_time = 0.0;
  if (!pending_file_open(&output->file, output->output_fs, output->output_path)) {
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not open output file for CAN: %s (%s)", output->output_path.c_str(),
                fs_reason(errno));
    }
    return false;
  }
  return true;
}

// Logs why a commit failed.
void report_commit_failure(const TextOutput* output, const CommitResult& result) {
  if (!log_enabled(LOG_ERROR)) return;
  const std::string step = result.step;
  const char* reason = fs_reason(result.error);
  if (step == "write") {
    log_write(LOG_ERROR, "Could not close CAN file (%s)", reason);
  } else if (step == "sync") {
    log_write(LOG_ERROR, "Could not sync output file %s (%s)", output->output_path.c_str(), reason);
  } else if (step == "rename") {
    log_write(LOG_ERROR, "Could not move output file into place: %s (%s)", output->output_path.c_str(), reason);
  } else {
    log_write(LOG_ERROR, "Could not sync the folder of output file %s (%s)", output->output_path.c_str(), reason);
  }
}

// Moves a complete output to its name. True when it stands there (or, durable,
// when a file stood there that was kept); false after logging otherwise.
bool commit_output(TextOutput* output, OutputFile* file) {
  const CommitResult result = pending_file_commit(&output->file, file->durable);
  switch (result.outcome) {
    case CommitOutcome::kMoved:
    case CommitOutcome::kSameContent:
      file->kept = true;
      return true;
    case CommitOutcome::kOtherContent:
      file->other_content = true;
      return true;
    case CommitOutcome::kLink:
      file->link_at_name = true;
      return true;
    case CommitOutcome::kFailed:
      break;
  }
  report_commit_failure(output, result);
  return false;
}

// Ends the output of the matching new_file: moves it to its name when it
// holds a frame line and is not abandoned, removes it otherwise. True when that succeeded; also
// true, touching nothing, when that new_file failed.
bool text_end_file(OutputBackend* backend, OutputFile* file) {
  TextOutput* output = as_output(backend);
  file->kept = false;
  file->other_content = false;
  file->link_at_name = false;
  file->frames = 0;
  if (output->file.stream == nullptr) return true;
  if (file->abandon || !output->header_written || output->message_number == 1) {
    if (pending_file_discard(&output->file)) return true;
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not remove CAN file (%s)", fs_reason(errno));
    return false;
  }
  file->frames = static_cast<uint64_t>(output->message_number - 1);
  if (!write_footer(output)) {
    pending_file_discard(&output->file);
    return false;
  }
  return commit_output(output, file);
}

void text_release(OutputBackend* backend) {
  TextOutput* output = as_output(backend);
  if (output->file.stream != nullptr) pending_file_discard(&output->file);
  delete output;
}

}  // namespace

TextOutput* text_output_new(FileSystem* output_fs, const TextFormat* format) {
  auto* output = new (std::nothrow) TextOutput();
  if (output == nullptr) return nullptr;
  output_backend_init(output);
  output->record = format->record;
  output->new_file = text_new_file;
  output->end_file = text_end_file;
  output->release = text_release;
  output->output_fs = output_fs;
  output->format = format;
  output->header_written = false;
  output->start_time = 0.0;
  output->message_number = 1;
  try {
    output->line_buffer.reserve(kLineBufferCapacity);
  } catch (const std::bad_alloc&) {
    delete output;
    return nullptr;
  }
  return output;
}

bool text_output_begin(TextOutput* output, const CanFrame& first) {
  if (output->file.stream == nullptr) return false;  // new_file failed or was not called
  output->start_time = first.timestamp;
  if (!write_header(output, first)) return false;
  output->header_written = true;
  return true;
}

bool text_output_write(TextOutput* output, const char* bytes, size_t count) {
  const int64_t size = static_cast<int64_t>(count);
  if (stream_write(output->file.stream, bytes, size) == size) return true;
  if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not write CAN data (%s)", fs_reason(errno));
  return false;
}

bool text_output_write_buffer(TextOutput* output) {
  return text_output_write(output, output->line_buffer.data(), output->line_buffer.size());
}
