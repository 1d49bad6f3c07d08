// The containers of a BLF file on their way into its sink.
//
// The writer fills a buffer of objects; each full buffer becomes a
// container. Once a file needs its second container, its compression moves
// to a thread of the file's own, which compresses one buffer while the
// writer fills the other. Only the writer's thread touches the sink: it
// appends the containers the thread finished at the next hand-over and when
// it settles. Without that thread (not wanted, or none to be had) the
// writer's thread compresses each buffer itself. Either way every container
// holds the same objects and is made by the same compressor, so the file's
// bytes are the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/blf_compressor.h"
#include "output/output_sink.h"

class BlfContainers {
 public:
  // Containers at the compression level into sink (borrowed); behind says
  // whether a thread may compress them. Makes the first buffer of objects
  // and of a container and the compressor; the second ones come with the
  // thread. Throws std::bad_alloc (std::out_of_range for a bad level).
  BlfContainers(OutputSink& sink, int level, bool behind);
  // Waits for the thread and ends it.
  ~BlfContainers();
  BlfContainers(const BlfContainers&) = delete;
  BlfContainers& operator=(const BlfContainers&) = delete;

  // The buffer to fill: blf::container::kCapacity bytes.
  uint8_t* objects() const { return buffers_[fill_].get(); }
  // The buffer is full: it becomes the next container. Returns the buffer
  // to fill next.
  uint8_t* hand_over();
  // The first count bytes of the buffer (none when count is 0) become the
  // next container; returns when every container so far is appended. The
  // buffer is then to be filled from its start.
  void settle(size_t count);
  // Forgets the container handed over last when it is not yet appended.
  void drop();

  // True once a thread compresses.
  bool behind() const { return behind_ != nullptr; }

 private:
  struct Behind;

  void start_behind();
  // Waits until the thread is idle and appends the container it finished,
  // if it is still to be appended.
  void append_finished();

  OutputSink& sink_;
  BlfCompressor compressor_;
  // The buffers of objects and of containers: the second of each only with
  // a thread, which compresses buffers_[i] into containers_[i] while the
  // writer fills buffers_[1 - i].
  std::unique_ptr<uint8_t[]> buffers_[2];
  std::unique_ptr<uint8_t[]> containers_[2];
  int fill_ = 0;              // the buffer being filled
  bool may_start_;            // a thread may yet be started
  bool finished_ = false;     // the thread's last container is still to be appended
  std::unique_ptr<Behind> behind_;
};
