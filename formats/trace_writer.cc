#include "formats/trace_writer.h"

#include <limits>
#include <new>

#include "app/run_records.h"
#include "convert/file_system.h"
#include "log/log.h"
#include "reader/can_frame.h"
#include "stream/stream.h"
#include "formats/trace_lines.h"

namespace {

constexpr int kOutputAccess = FS_WRITE | 4;  // the 4 is ignored by the file system
constexpr size_t kLineBufferCapacity = 256;

TraceWriter* as_writer(OutputBackend* backend) { return static_cast<TraceWriter*>(backend); }

// One stream write of the whole line buffer; true when all of it went out.
bool write_line_buffer(TraceWriter* writer) {
  int64_t size = static_cast<int64_t>(writer->line_buffer.size());
  return stream_write(writer->output, writer->line_buffer.data(), size) == size;
}

// Writes the frame line straight into the output stream's buffer when that
// has room for the longest line and the fast build takes the values. True
// when the line was written so (it is then as written as by stream_write);
// false, having written nothing, otherwise.
template <char* (*kWriteLine)(char*, int64_t, double, const CanFrame&)>
inline bool write_line_in_place(TraceWriter* writer, int64_t number, double offset, const CanFrame* frame) {
  char* space = stream_write_space(writer->output, kTraceLineRoom);
  if (space == nullptr) return false;
  const char* end = kWriteLine(space, number, offset, *frame);
  if (end == nullptr) return false;
  stream_commit_write(writer->output, static_cast<size_t>(end - space));
  return true;
}

bool write_header(TraceWriter* writer, const char* version_line, const char* columns_line) {
  writer->line_buffer.clear();
  writer->line_buffer.append(version_line);
  writer->line_buffer.append(";$STARTTIME=");
  trace_append_start_value(&writer->line_buffer, writer->trace_start_time);
  if (columns_line != nullptr) writer->line_buffer.append(columns_line);
  if (!write_line_buffer(writer)) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not write CAN header");
    return false;
  }
  return true;
}

// Header writers of the two versions: true when the header was written.
bool write_header_v1(TraceWriter* writer) {
  return write_header(writer, ";$FILEVERSION=1.1\n", nullptr);
}

bool write_header_v2(TraceWriter* writer) {
  return write_header(writer, ";$FILEVERSION=2.1\n", ";$COLUMNS=N,O,T,B,I,d,L,D\n");
}

// Version 1.1 line writer: true when the line was written in full or the
// frame (CAN FD, which this version cannot express) was skipped.
bool write_frame_line_v1(TraceWriter* writer, const CanFrame* frame) {
  if (frame->fd) return true;  // skipped without using a number
  double offset = (frame->timestamp - writer->trace_start_time) * 1000.0;
  int64_t number = writer->message_number++;
  if (write_line_in_place<trace_line_v1_write>(writer, number, offset, frame)) return true;
  writer->line_buffer.clear();
  trace_line_v1_append(&writer->line_buffer, number, offset, *frame);
  if (!write_line_buffer(writer)) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not write CAN data");
    return false;
  }
  return true;
}

// Version 2.1 line writer: true when the line was written in full; a short
// write is reported by the result alone.
bool write_frame_line_v2(TraceWriter* writer, const CanFrame* frame) {
  double offset = (frame->timestamp - writer->trace_start_time) * 1000.0;
  int64_t number = writer->message_number++;
  if (write_line_in_place<trace_line_v2_write>(writer, number, offset, frame)) return true;
  writer->line_buffer.clear();
  trace_line_v2_append(&writer->line_buffer, number, offset, *frame);
  return write_line_buffer(writer);
}

// Hands one frame over: frames of other kinds are passed over (true) without
// touching the header state; the first frame writes the header. False when no
// file is open or a write failed.
bool trace_record(OutputBackend* backend, const CanFrame* frame, uint64_t) {
  TraceWriter* writer = as_writer(backend);
  if (frame->kind != 1 && frame->kind != 2) return true;
  if (writer->output == nullptr) return false;  // new_file failed or was not called
  if (!writer->header_written) {
    writer->trace_start_time = frame->timestamp;
    if (!writer->write_header(writer)) return false;
    writer->header_written = true;
  }
  return writer->write_frame_line(writer, frame);
}

// Opens output_base + ".trc" for writing, truncating a file of that name.
// False (after logging) when it cannot be opened.
bool trace_new_file(OutputBackend* backend, const FilePaths* paths, bool) {
  TraceWriter* writer = as_writer(backend);
  if (writer->output != nullptr) {
    // end_file was not called for the previous file: close it, keep it.
    stream_close(writer->output);
    writer->output = nullptr;
  }
  writer->opened_by_new_file = false;
  writer->output_path = paths->output_base;
  writer->output_path += ".trc";
  writer->existed_before_open = false;
  if (paths->sync_output) {
    EntryInfo info;
    writer->existed_before_open =
        fs_query(writer->output_fs, writer->output_path.data(), writer->output_path.size(), &info) &&
        info.kind == ENTRY_FILE;
  }
  Stream* output = fs_open(writer->output_fs, writer->output_path.data(),
                           writer->output_path.size(), kOutputAccess);
  if (output == nullptr) {
    if (log_enabled(LOG_ERROR)) {
      log_write(LOG_ERROR, "Could not open output file for CAN: %s", writer->output_path.c_str());
    }
    return false;
  }
  writer->output = output;
  writer->opened_by_new_file = true;
  writer->header_written = false;
  writer->message_number = 1;
  writer->trace_start_time = std::numeric_limits<double>::quiet_NaN();
  return true;
}

// Flushes the kept output file, and its folder when the file is new, to
// stable storage. True when both succeeded.
bool sync_output(TraceWriter* writer) {
  if (stream_sync(writer->output) != 0) return false;
  if (writer->existed_before_open) return true;
  size_t slash = writer->output_path.rfind('/');
  size_t folder_length = slash == std::string::npos ? 0 : slash;
  return fs_sync_folder(writer->output_fs, writer->output_path.data(), folder_length);
}

// Closes the file of the matching new_file; removes it again when it holds no
// frame line. True when closing (and removing) succeeded; also true, touching
// nothing, when that new_file failed. With paths->sync_output a kept file is
// synced before it is closed and paths->output_synced tells whether that and
// the close succeeded.
bool trace_end_file(OutputBackend* backend, FilePaths* paths) {
  TraceWriter* writer = as_writer(backend);
  if (paths != nullptr) paths->output_synced = false;
  if (!writer->opened_by_new_file) {
    // Nothing of ours stands at output_path: whatever is there was in the
    // way of the open, and new_file has reported that already.
    return true;
  }
  writer->opened_by_new_file = false;
  bool result = true;
  bool keep = writer->header_written && writer->message_number != 1;
  bool want_sync = keep && paths != nullptr && paths->sync_output;
  bool synced = want_sync && sync_output(writer);
  if (stream_close(writer->output) != 0) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not close CAN file");
    result = false;
  }
  writer->output = nullptr;
  if (keep) {
    if (want_sync) {
      if (!synced && log_enabled(LOG_ERROR)) {
        log_write(LOG_ERROR, "Could not sync output file %s", writer->output_path.c_str());
      }
      paths->output_synced = synced && result;
    }
    return result;
  }
  if (!fs_remove(writer->output_fs, writer->output_path.data(), writer->output_path.size())) {
    if (log_enabled(LOG_ERROR)) log_write(LOG_ERROR, "Could not remove CAN file");
    return false;
  }
  return result;
}

}  // namespace

TraceWriter* trace_writer_new(FileSystem* output_fs, int trace_version) {
  TraceHeaderWriter header;
  TraceLineWriter line;
  if (trace_version == 1) {
    header = write_header_v1;
    line = write_frame_line_v1;
  } else if (trace_version == 2) {
    header = write_header_v2;
    line = write_frame_line_v2;
  } else {
    return nullptr;
  }
  auto* writer = new (std::nothrow) TraceWriter();
  if (writer == nullptr) return nullptr;
  output_backend_init(writer);
  writer->record = trace_record;
  writer->new_file = trace_new_file;
  writer->end_file = trace_end_file;
  writer->output_fs = output_fs;
  writer->write_header = header;
  writer->write_frame_line = line;
  writer->output = nullptr;
  writer->header_written = false;
  writer->trace_start_time = std::numeric_limits<double>::quiet_NaN();
  writer->message_number = 1;
  writer->opened_by_new_file = false;
  writer->existed_before_open = false;
  try {
    writer->line_buffer.reserve(kLineBufferCapacity);
  } catch (const std::bad_alloc&) {
    delete writer;
    return nullptr;
  }
  return writer;
}

void trace_writer_free(TraceWriter* writer) {
  if (writer == nullptr) return;
  if (writer->output != nullptr) stream_close(writer->output);  // kept, no message
  delete writer;
}

OutputBackend* trace_writer_backend(TraceWriter* writer) { return writer; }
