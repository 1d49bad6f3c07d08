// Where the reader hands its frames: a call of anything callable with a
// frame, returning false to stop. It refers to the callable (which must
// outlive it) without owning or copying it, so handing it on costs nothing.
//
// Frames that stand together in memory may be handed on in one call: a
// callable that takes (const CanFrame* frames, size_t count) as well gets
// them so and returns how many it took before it refused one (count when it
// refused none); for any other callable the frames are handed on one by one.
#pragma once

#include <concepts>
#include <cstddef>
#include <type_traits>

#include "frame/can_frame.h"

class TakeFrame {
 public:
  template <typename Callable>
    requires(!std::is_same_v<std::remove_cv_t<Callable>, TakeFrame>)
  TakeFrame(Callable& callable)  // NOLINT: a reference to any callable, as a function parameter takes it
      : object_(&callable),
        call_([](void* object, const CanFrame& frame) { return (*static_cast<Callable*>(object))(frame); }),
        call_all_([](void* object, const CanFrame* frames, size_t count) -> size_t {
          Callable& take = *static_cast<Callable*>(object);
          if constexpr (requires { { take(frames, count) } -> std::same_as<size_t>; }) {
            return take(frames, count);
          } else {
            for (size_t i = 0; i < count; ++i) {
              if (!take(frames[i])) return i;
            }
            return count;
          }
        }) {}

  bool operator()(const CanFrame& frame) const { return call_(object_, frame); }
  // Hands on frames[0, count) in order; returns how many were taken before
  // one was refused (count when none was).
  size_t operator()(const CanFrame* frames, size_t count) const { return call_all_(object_, frames, count); }

 private:
  void* object_;
  bool (*call_)(void* object, const CanFrame& frame);
  size_t (*call_all_)(void* object, const CanFrame* frames, size_t count);
};
