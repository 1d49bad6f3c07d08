#include "convert/driver.h"

#include <sys/types.h>

#include <cstring>
#include <map>

#include "app/run_records.h"
#include "convert/file_system.h"
#include "convert/paths.h"
#include "log/log.h"
#include "reader/log_reader.h"
#include "stream/stream.h"
#include "output/backend.h"

namespace {

// Inputs are opened for reading; the value 4 is part of the flags every
// caller passes and means nothing to the file system.
constexpr int kInputAccess = FS_READ | 4;

constexpr const char kDefaultLoggerId[] = "LOGGERID";

int text_length(std::string_view text) { return static_cast<int>(text.size()); }

// One level of written_outputs for the duration of a scope: the command-line
// inputs form the first level, each folder being walked one more.
class OutputLevel {
 public:
  explicit OutputLevel(ConversionJob* job) : job_(job) { job_->written_outputs.emplace_back(); }
  ~OutputLevel() { job_->written_outputs.pop_back(); }
  OutputLevel(const OutputLevel&) = delete;
  OutputLevel& operator=(const OutputLevel&) = delete;

 private:
  ConversionJob* job_;
};

// The level that records the outputs of the files being visited now.
std::map<std::string, std::string>& current_level(ConversionJob* job) {
  if (job->written_outputs.empty()) job->written_outputs.emplace_back();
  return job->written_outputs.back();
}

uint32_t fail_file(std::string_view input_path) {
  if (log_enabled(LOG_ERROR)) {
    log_write(LOG_ERROR, "Error during conversion of %.*s", text_length(input_path),
              input_path.data());
  }
  return PATH_FAILED;
}

// Closes the input stream; logs and returns false when that fails.
bool close_input(Stream* stream, std::string_view input_path) {
  if (stream_close(stream) == 0) return true;
  if (log_enabled(LOG_ERROR)) {
    log_write(LOG_ERROR, "Could not close input file after conversion: %.*s",
              text_length(input_path), input_path.data());
  }
  return false;
}

// Whether the trace file of paths is in the output tree now: true when it
// exists or when that cannot be told (a failed query), false when it is
// missing, i.e. the back end removed it because no frame line was written.
bool trace_file_kept(ConversionJob* job, const FilePaths& paths) {
  std::string trace_path = paths.output_base;
  trace_path.append(kTraceExtension);
  EntryInfo info{};
  if (!fs_query(job->output_fs, trace_path.data(), trace_path.size(), &info)) return true;
  return info.kind != ENTRY_MISSING;
}

// Opens the input and puts the read window in front of it. Returns the stream
// to read, or nullptr after logging why.
Stream* open_input(ConversionJob* job, std::string_view input_path) {
  Stream* stream = fs_open(job->input_fs, input_path.data(), input_path.size(), kInputAccess);
  if (stream == nullptr) {
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not open input file %.*s", text_length(input_path),
                input_path.data());
    }
    return nullptr;
  }
  int64_t size = job->options->buffer_size;
  if (size < 0) {
    // The window holds the whole file, so the rewind to the first record
    // costs no read; a large file is read through a window of the cap.
    size = stream_size(stream);
    if (size > kDefaultWindowCap) size = kDefaultWindowCap;
  }
  if (size <= 0) return stream;
  Stream* buffered = buffered_reader_new(stream, true, size);
  if (buffered == nullptr) {
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not allocate buffer of size %zd", static_cast<ssize_t>(size));
    }
    stream_close(stream);
    return nullptr;
  }
  return buffered;
}

// Converts one "txt" file. Returns PATH_OK or PATH_FAILED.
uint32_t convert_file(ConversionJob* job, std::string_view input_path,
                      std::string_view output_path) {
  FilePaths paths;
  paths.input_path.assign(input_path);
  paths.output_base.assign(path_output_base(output_path));

  // Two inputs of one run never share a trace file: a sibling that maps to
  // the same output (a.txt and a.TXT) fails before anything is touched.
  auto& written = current_level(job);
  if (auto earlier = written.find(paths.output_base);
      earlier != written.end() && earlier->second != paths.input_path) {
    if (log_enabled(LOG_ERROR)) {
      std::string trace_path = paths.output_base;
      trace_path.append(kTraceExtension);
      log_write(LOG_ERROR, "Output file %s was already written for %.*s", trace_path.c_str(),
                text_length(earlier->second), earlier->second.data());
    }
    return fail_file(input_path);
  }

  if (job->make_dirs) {
    std::string_view folder = path_folder(paths.output_base);
    fs_make_folders(job->output_fs, folder.data(), folder.size());
  }
  const bool delete_converted = job->options->delete_converted;
  paths.sync_output = delete_converted;

  Stream* stream = open_input(job, input_path);
  if (stream == nullptr) return fail_file(input_path);

  LogReader* reader = log_reader_open(stream);
  if (reader == nullptr) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not open log");
    stream_close(stream);
    return fail_file(input_path);
  }
  job->log = reader;

  const LogHeader& header = reader->header;
  const char* logger_id = header.logger_id[0] != '\0' ? header.logger_id : kDefaultLoggerId;
  if (header.session_no == 0 || header.split_no == 0) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not parse file header");
    job->log = nullptr;
    log_reader_free(reader);
    stream_close(stream);
    return fail_file(input_path);
  }

  bool continues_previous = false;
  if (!job->last_logger_id.empty() && job->last_logger_id == logger_id &&
      header.session_no == job->last_session_no) {
    if (header.split_no == job->last_split_no) {
      if (log_enabled(LOG_WARN)) {
        log_write(LOG_WARN, "Repeated input file (%s, %08u, %08u)", logger_id,
                  static_cast<unsigned>(header.session_no), static_cast<unsigned>(header.split_no));
      }
      continues_previous = true;
    } else if (static_cast<int64_t>(header.split_no) ==
               static_cast<int64_t>(job->last_split_no) + 1) {
      continues_previous = true;
    }
  }
  job->last_logger_id.assign(logger_id);
  job->last_session_no = header.session_no;
  job->last_split_no = header.split_no;

  OutputBackend* writer = job->writer;
  const bool began = writer->new_file(writer, &paths, continues_previous);
  bool converted = began;
  if (!began) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Error on new file");
  } else {
    log_reader_rewind(reader);
    // Zeroed once: the reader leaves the data bytes beyond a frame's byte
    // string as they were, and the line writer reads all eight of a classic
    // frame's bytes at once.
    CanFrame frame{};
    bool records_done = true;
    while (log_reader_next(reader, &frame)) {
      ++job->frame_count;
      if (!writer->record(writer, &frame, job->frame_count)) {
        records_done = false;
        break;
      }
    }
    converted = records_done;
    if (records_done && log_reader_failed(reader)) {
      // The records read so far are all there is: the trace is incomplete.
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Could not read input file %.*s", text_length(input_path),
                  input_path.data());
      }
      converted = false;
    } else if (records_done && log_reader_data_after_zero(reader)) {
      // The records stopped at a run of zero bytes, but more data follows
      // it: the trace holds only the records before the zeros.
      if (log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Input file %.*s holds data after zero bytes that end its records",
                  text_length(input_path), input_path.data());
      }
      converted = false;
    }
  }

  const bool ended = writer->end_file(writer, &paths);
  const bool kept = began && trace_file_kept(job, paths);
  if (kept) written[paths.output_base] = paths.input_path;
  if (!ended && log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Error during end file callback");

  job->log = nullptr;
  log_reader_free(reader);
  const bool closed = close_input(stream, input_path);
  if (!ended || !closed || !converted) return fail_file(input_path);

  if (delete_converted) {
    // The input goes only once its frames are safe: the trace file reached
    // stable storage, or no trace file was kept because no frame line was
    // written, so there is nothing to lose.
    if (paths.output_synced || !kept) {
      if (!fs_remove(job->input_fs, input_path.data(), input_path.size()) &&
          log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Could not remove input file after conversion: %.*s",
                  text_length(input_path), input_path.data());
      }
    }
  }
  return PATH_OK;
}

}  // namespace

uint32_t convert_path(ConversionJob* job, std::string_view input_path,
                      std::string_view output_path) {
  EntryInfo info{};
  if (!fs_query(job->input_fs, input_path.data(), input_path.size(), &info)) {
    if (log_enabled(LOG_FATAL)) {
      log_write(LOG_FATAL, "Error during stat of %.*s, exiting", text_length(input_path),
                input_path.data());
    }
    return kPathAbortRun;
  }
  switch (info.kind) {
    case ENTRY_FOLDER: {
      FolderListing listing;
      fs_list(job->input_fs, input_path.data(), input_path.size(), &listing);
      OutputLevel level(job);
      uint32_t result = PATH_OK;
      std::string child_input;
      std::string child_output;
      for (const auto& entry : listing) {
        child_input.clear();
        child_output.clear();
        path_append_child(child_input, input_path, entry.first);
        path_append_child(child_output, output_path, entry.first);
        result |= convert_path(job, child_input, child_output);
        if (result & kPathAbortRun) break;
      }
      return result;
    }
    case ENTRY_MISSING:
      if (log_enabled(LOG_WARN)) {
        log_write(LOG_WARN, "Could not find input file/folder %.*s", text_length(input_path),
                  input_path.data());
      }
      return PATH_MISSING;
    case ENTRY_FILE:
      if (!path_extension_is_txt(path_extension(input_path))) return PATH_OK;
      return convert_file(job, input_path, output_path);
    default:
      return PATH_OTHER;
  }
}

uint32_t run_inputs(ConversionJob* job, const std::vector<std::string>& inputs) {
  uint32_t result = PATH_OK;
  if (inputs.empty()) return result;
  OutputLevel level(job);
  for (const std::string& input : inputs) {
    std::string output = input;
    if (!job->options->no_append_root) {
      EntryInfo info{};
      if (!fs_query(job->input_fs, input.data(), input.size(), &info)) {
        if (log_enabled(LOG_FATAL)) {
          log_write(LOG_FATAL, "Could not query %.*s for information", text_length(input),
                    input.data());
        }
        return PATH_OTHER;
      }
      if (info.kind == ENTRY_FOLDER) output = path_with_out_suffix(input);
    }
    uint32_t path_result = convert_path(job, input, output);
    if (path_result & kPathAbortRun) return PATH_OTHER;
    result |= path_result;
  }
  return result;
}
