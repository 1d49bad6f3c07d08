#include "formats/blf_containers.h"

#include <atomic>
#include <exception>
#include <thread>

using namespace blf;

// The compressing thread. The writer's thread hands it a job only while it
// is idle, and reads the result and reuses the buffers only after it has
// waited for idleness again, so the buffers and the compressor are used by
// one thread at a time.
struct BlfContainers::Behind {
  static constexpr int kIdle = 0;  // waiting for a job; the last one's result is ready
  static constexpr int kBusy = 1;  // compressing objects into container
  static constexpr int kStop = 2;  // leaving
  std::atomic<int> state{kIdle};
  BlfCompressor* compressor = nullptr;
  const uint8_t* objects = nullptr;  // a full buffer
  uint8_t* container = nullptr;
  size_t bytes = 0;  // of the container made last
  std::thread thread;

  void run() {
    for (;;) {
      int now;
      while ((now = state.load(std::memory_order_acquire)) == kIdle) state.wait(kIdle, std::memory_order_acquire);
      if (now == kStop) return;
      bytes = compressor->put_container(objects, container::kCapacity, container);
      state.store(kIdle, std::memory_order_release);
      state.notify_one();
    }
  }
  void wait_idle() {
    int now;
    while ((now = state.load(std::memory_order_acquire)) == kBusy) state.wait(kBusy, std::memory_order_acquire);
  }
  void post(int next) {
    state.store(next, std::memory_order_release);
    state.notify_one();
  }
};

BlfContainers::BlfContainers(OutputSink& sink, int level, bool behind)
    : sink_(sink), compressor_(level), may_start_(behind) {
  buffers_[0].reset(new uint8_t[container::kCapacity]);
  containers_[0].reset(new uint8_t[BlfCompressor::kContainerRoom]);
}

BlfContainers::~BlfContainers() {
  if (behind_ == nullptr) return;
  behind_->wait_idle();
  behind_->post(Behind::kStop);
  behind_->thread.join();
}

// Gives the file its thread and the second buffers. Without memory or a
// thread to be had, the writer's thread goes on compressing.
void BlfContainers::start_behind() {
  may_start_ = false;
  try {
    buffers_[1].reset(new uint8_t[container::kCapacity]);
    containers_[1].reset(new uint8_t[BlfCompressor::kContainerRoom]);
    auto behind = std::make_unique<Behind>();
    behind->compressor = &compressor_;
    behind->thread = std::thread(&Behind::run, behind.get());
    behind_ = std::move(behind);
  } catch (const std::exception&) {
  }
}

uint8_t* BlfContainers::hand_over() {
  if (may_start_) start_behind();
  if (behind_ == nullptr) {
    sink_.append(containers_[0].get(), compressor_.put_container(buffers_[0].get(), container::kCapacity,
                                                                 containers_[0].get()));
    return buffers_[0].get();
  }
  behind_->wait_idle();
  const bool finished = finished_;
  const size_t finished_bytes = behind_->bytes;
  behind_->objects = buffers_[fill_].get();
  behind_->container = containers_[fill_].get();
  behind_->post(Behind::kBusy);
  // The container before, in the other buffer, goes out while this one is
  // made.
  if (finished) sink_.append(containers_[1 - fill_].get(), finished_bytes);
  finished_ = true;
  fill_ = 1 - fill_;
  return buffers_[fill_].get();
}

void BlfContainers::append_finished() {
  if (behind_ == nullptr) return;
  behind_->wait_idle();
  if (finished_) sink_.append(containers_[1 - fill_].get(), behind_->bytes);
  finished_ = false;
}

void BlfContainers::settle(size_t count) {
  append_finished();
  if (count == 0) return;
  uint8_t* container = containers_[fill_].get();  // the thread is idle, and its container appended
  sink_.append(container, compressor_.put_container(buffers_[fill_].get(), count, container));
}

void BlfContainers::drop() {
  if (behind_ != nullptr) behind_->wait_idle();
  finished_ = false;
}
