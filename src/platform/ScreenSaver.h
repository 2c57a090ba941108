#pragma once
// Holds the desktop screen saver off during calls. Telvara runs as a daemon without a
// desktop session of its own, so on Linux there is no screen saver to hold off and the
// switch has no effect; it stays a hook so the call bracket reads as designed.
namespace telvara {

inline void SetScreenSaverActive(bool /*active*/) {}

}  // namespace telvara
