// The state of the Caps Lock, Num Lock and Scroll Lock keys, for the status-bar indicators.
#pragma once

#include <optional>

namespace quorvel {

struct LockKeys {
  bool capsLock = false;
  bool numLock = false;
  bool scrollLock = false;
};

// The keyboard's lock states, or nothing where the window system does not tell them
// (the offscreen and Wayland platforms).
std::optional<LockKeys> QueryLockKeys();

}  // namespace quorvel
