// The layout of a BLF file, shared by its writer and anything that reads one
// back: the file header, the base header every object starts with, the
// container object that carries the other objects compressed, and the CAN
// message object. Every integer is little-endian.
//
// A file is the 144-byte file header, then containers (objects of type 10),
// each followed by (its object size mod 4) zero bytes. A container holds a
// zlib stream of at most container::kCapacity bytes of objects; an object may
// begin in one container and end in the next.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace blf {

// Little-endian stores and loads at any alignment.
template <typename T>
inline void store(uint8_t* at, T value) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
  } else {
    memcpy(at, &value, sizeof(T));
  }
}

template <typename T>
inline T load(const uint8_t* at) {
  T value = 0;
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(at[i]) << (8 * i);
  } else {
    memcpy(&value, at, sizeof(T));
  }
  return value;
}

// A calendar time as the file header holds it: eight u16 values.
struct SystemTime {
  uint16_t year, month, day_of_week, day, hour, minute, second, milliseconds;  // day_of_week: Sunday 0
};

// The calendar time of a count of milliseconds since 1970-01-01 00:00 UTC.
SystemTime system_time_of(int64_t milliseconds);

// The file header: kFileHeaderSize bytes, zeros where no field is.
namespace file_header {
inline constexpr char kSignature[4] = {'L', 'O', 'G', 'G'};
inline constexpr size_t kSize = 144;
inline constexpr size_t kHeaderSize = 4;         // u32: kSize
inline constexpr size_t kApplication = 8;        // u8 id, u8 major, minor, build
inline constexpr size_t kBinaryLogVersion = 12;  // u8 major, minor, build, patch
inline constexpr size_t kFileSize = 16;          // u64: the whole file
inline constexpr size_t kUncompressedSize = 24;  // u64: kSize + each container's header and objects
inline constexpr size_t kObjectCount = 32;       // u32: the objects inside the containers
inline constexpr size_t kObjectsRead = 36;       // u32: 0
inline constexpr size_t kStartTime = 40;         // SystemTime
inline constexpr size_t kStopTime = 56;          // SystemTime
}  // namespace file_header

// The base header of every object.
namespace object_header {
inline constexpr char kSignature[4] = {'L', 'O', 'B', 'J'};
inline constexpr size_t kSize = 16;
inline constexpr size_t kHeaderSize = 4;     // u16: the object's headers
inline constexpr size_t kHeaderVersion = 6;  // u16
inline constexpr size_t kObjectSize = 8;     // u32: the whole object, headers included
inline constexpr size_t kObjectType = 12;    // u32
}  // namespace object_header

// Writes a base header at at.
inline void put_object_header(uint8_t* at, uint16_t header_size, uint16_t header_version, uint32_t object_size,
                              uint32_t type) {
  memcpy(at, object_header::kSignature, 4);
  store<uint16_t>(at + object_header::kHeaderSize, header_size);
  store<uint16_t>(at + object_header::kHeaderVersion, header_version);
  store<uint32_t>(at + object_header::kObjectSize, object_size);
  store<uint32_t>(at + object_header::kObjectType, type);
}

// A container: the base header, then these fields, then the compressed
// objects.
namespace container {
inline constexpr uint32_t kType = 10;
inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kCompression = 16;       // u16
inline constexpr size_t kUncompressedSize = 24;  // u32: bytes of objects it holds
inline constexpr uint16_t kZlib = 2;             // a zlib stream (RFC 1950)
inline constexpr uint16_t kUncompressed = 0;     // the objects as they are
inline constexpr size_t kCapacity = 128 * 1024;  // bytes of objects in one container, at most
// The zero bytes that follow a container of object_size bytes.
inline constexpr size_t padding_after(size_t object_size) { return object_size % 4; }
}  // namespace container

// A CAN message: the base header and a version-1 object header (flags,
// client index, object version, time stamp), then the frame.
namespace can_message {
inline constexpr uint32_t kType = 1;
inline constexpr size_t kSize = 48;
inline constexpr size_t kHeaderSize = 32;
inline constexpr uint16_t kHeaderVersion = 1;
inline constexpr size_t kTimeFlags = 16;   // u32
inline constexpr uint32_t kNanoseconds = 2;  // time stamps in nanoseconds
inline constexpr size_t kTimeStamp = 24;   // u64: since the file's start time
inline constexpr size_t kChannel = 32;     // u16
inline constexpr size_t kFlags = 34;       // u8
inline constexpr size_t kDlc = 35;         // u8
inline constexpr size_t kIdentifier = 36;  // u32
inline constexpr size_t kData = 40;        // 8 bytes
inline constexpr uint8_t kTransmitted = 0x01;
inline constexpr uint32_t kExtended = 0x80000000u;
inline constexpr uint16_t kLoggerChannel = 1;
}  // namespace can_message

}  // namespace blf
