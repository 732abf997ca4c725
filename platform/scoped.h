// The seam a test uses to put its own stand-in where the program reaches a service through a
// pointer in force: the file calls, the random source, the window's dialogs.
#pragma once

#include <utility>

namespace platform {

// Puts `value` in force for the object's lifetime, then restores the one before: `Slot` returns the
// pointer the program reads. Scopes nest; not thread-safe (tests only).
template <typename T, T*& (*Slot)()>
class TScopedOverride {
 public:
  explicit TScopedOverride(T& value) : previous_(std::exchange(Slot(), &value)) {}
  ~TScopedOverride() { Slot() = previous_; }
  TScopedOverride(const TScopedOverride&) = delete;
  TScopedOverride& operator=(const TScopedOverride&) = delete;

 private:
  T* previous_;
};

}  // namespace platform
