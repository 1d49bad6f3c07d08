// Where the reader hands its frames: a call of anything callable with a
// frame, returning false to stop. It refers to the callable (which must
// outlive it) without owning or copying it, so handing it on costs nothing.
#pragma once

#include <type_traits>

#include "frame/can_frame.h"

class TakeFrame {
 public:
  template <typename Callable>
    requires(!std::is_same_v<std::remove_cv_t<Callable>, TakeFrame>)
  TakeFrame(Callable& callable)  // NOLINT: a reference to any callable, as a function parameter takes it
      : object_(&callable), call_([](void* object, const CanFrame& frame) {
          return (*static_cast<Callable*>(object))(frame);
        }) {}

  bool operator()(const CanFrame& frame) const { return call_(object_, frame); }

 private:
  void* object_;
  bool (*call_)(void* object, const CanFrame& frame);
};
