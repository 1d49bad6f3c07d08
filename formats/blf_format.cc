// The BLF writer: CAN message objects gathered into buffers of one
// container's worth, each full buffer handed over to become a container, and
// the file header written first with the start time and again at the end
// with the final sizes, count and stop time.
#include "formats/blf_format.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>

#include "formats/blf_layout.h"
#include "formats/format_writers.h"

namespace blf {

SystemTime system_time_of(int64_t milliseconds) {
  using namespace std::chrono;
  const sys_time<std::chrono::milliseconds> time{std::chrono::milliseconds(milliseconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss<std::chrono::milliseconds> clock(time - day);
  return {static_cast<uint16_t>(static_cast<int>(date.year())),
          static_cast<uint16_t>(static_cast<unsigned>(date.month())),
          static_cast<uint16_t>(weekday(day).c_encoding()),
          static_cast<uint16_t>(static_cast<unsigned>(date.day())),
          static_cast<uint16_t>(clock.hours().count()),
          static_cast<uint16_t>(clock.minutes().count()),
          static_cast<uint16_t>(clock.seconds().count()),
          static_cast<uint16_t>(clock.subseconds().count())};
}

}  // namespace blf

namespace {

using namespace blf;

// A frame's time in whole milliseconds since 1970 UTC: the times are of
// millisecond resolution, and integers keep every offset exact.
inline int64_t milliseconds_of(const CanFrame& frame) { return std::llround(frame.timestamp * 1000.0); }

void put_system_time(uint8_t* at, const SystemTime& time) {
  const uint16_t fields[8] = {time.year, time.month,  time.day_of_week, time.day,
                              time.hour, time.minute, time.second,      time.milliseconds};
  for (int i = 0; i < 8; ++i) store<uint16_t>(at + 2 * i, fields[i]);
}

// The first bytes of every CAN message object: its base header and the
// version-1 header up to the time stamp.
struct CanMessagePrefix {
  uint8_t bytes[can_message::kTimeStamp] = {};
  CanMessagePrefix() {
    put_object_header(bytes, can_message::kHeaderSize, can_message::kHeaderVersion, can_message::kSize,
                      can_message::kType);
    store<uint32_t>(bytes + can_message::kTimeFlags, can_message::kNanoseconds);
  }
};
const CanMessagePrefix kCanMessagePrefix;

// Writes the CAN message object of the frame, at nanoseconds after the
// file's start time.
inline void put_can_message(uint8_t* at, const CanFrame& frame, uint64_t nanoseconds) {
  memcpy(at, kCanMessagePrefix.bytes, sizeof kCanMessagePrefix.bytes);
  store<uint64_t>(at + can_message::kTimeStamp, nanoseconds);
  store<uint16_t>(at + can_message::kChannel, can_message::kLoggerChannel);
  at[can_message::kFlags] = frame.transmitted ? can_message::kTransmitted : 0;
  at[can_message::kDlc] = frame.length;
  const uint32_t id = frame.id & 0x1FFFFFFFu;
  store<uint32_t>(at + can_message::kIdentifier, frame.extended ? id | can_message::kExtended : id);
  // The data bytes, zeros after the frame's own: a mask of the first size
  // bytes, in one step where a call to clear the rest would cost more.
  const unsigned size = frame.size < 8 ? frame.size : 8;
  const uint64_t mask = size == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * size)) - 1;
  store<uint64_t>(at + can_message::kData, load<uint64_t>(frame.data) & mask);
}

}  // namespace

BlfWriter::BlfWriter(OutputSink& sink, int level, bool behind)
    : sink_(sink), containers_(sink, level, behind), objects_(containers_.objects()) {}

void BlfWriter::begin(const CanFrame& first) {
  start_ms_ = milliseconds_of(first);
  last_ms_ = start_ms_;
  put_file_header();
  sink_.append(file_header_, sizeof file_header_);
}

void BlfWriter::write(const CanFrame& frame) {
  const int64_t ms = milliseconds_of(frame);
  last_ms_ = ms;
  ++object_count_;
  const uint64_t nanoseconds = static_cast<uint64_t>(ms - start_ms_) * 1000000u;
  if (container::kCapacity - objects_used_ >= can_message::kSize) {
    put_can_message(objects_ + objects_used_, frame, nanoseconds);
    objects_used_ += can_message::kSize;
    if (objects_used_ == container::kCapacity) hand_over();
    return;
  }
  uint8_t object[can_message::kSize];
  put_can_message(object, frame, nanoseconds);
  put_object(object);
}

// Puts an object that does not fit whole: its first bytes end the container
// being filled, the rest begin the next.
void BlfWriter::put_object(const uint8_t* object) {
  const size_t head = container::kCapacity - objects_used_;
  memcpy(objects_ + objects_used_, object, head);
  objects_used_ = container::kCapacity;
  hand_over();
  memcpy(objects_, object + head, can_message::kSize - head);
  objects_used_ = can_message::kSize - head;
}

// The full buffer becomes a container; the objects go on in the next.
void BlfWriter::hand_over() {
  objects_ = containers_.hand_over();
  uncompressed_size_ += container::kHeaderSize + container::kCapacity;
  objects_used_ = 0;
}

// The objects of the buffer, if any, as the last container.
void BlfWriter::settle() {
  containers_.settle(objects_used_);
  if (objects_used_ > 0) uncompressed_size_ += container::kHeaderSize + objects_used_;
  objects_ = containers_.objects();
  objects_used_ = 0;
}

void BlfWriter::end() {
  settle();
  put_file_header();
  sink_.overwrite(0, file_header_, sizeof file_header_);
}

void BlfWriter::write_held() { settle(); }

void BlfWriter::mark() { marked_ = Counts{last_ms_, object_count_, uncompressed_size_}; }

void BlfWriter::rollback() {
  containers_.drop();
  objects_ = containers_.objects();
  objects_used_ = 0;
  last_ms_ = marked_.last_ms;
  object_count_ = marked_.object_count;
  uncompressed_size_ = marked_.uncompressed_size;
}

// Fills file_header_ with the values known so far.
void BlfWriter::put_file_header() {
  uint8_t* at = file_header_;
  memcpy(at, file_header::kSignature, 4);
  store<uint32_t>(at + file_header::kHeaderSize, file_header::kSize);
  store<uint64_t>(at + file_header::kFileSize, sink_.size());
  store<uint64_t>(at + file_header::kUncompressedSize, file_header::kSize + uncompressed_size_);
  store<uint32_t>(at + file_header::kObjectCount,
                  static_cast<uint32_t>(std::min<uint64_t>(object_count_, UINT32_MAX)));
  put_system_time(at + file_header::kStartTime, system_time_of(start_ms_));
  put_system_time(at + file_header::kStopTime, system_time_of(last_ms_));
}

std::unique_ptr<FormatWriter> make_blf_writer(OutputSink& sink) { return std::make_unique<BlfWriter>(sink); }
