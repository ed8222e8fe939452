// A host call that a signal interrupted is asked again. Local Linux file
// systems seldom answer EINTR, but network and FUSE ones do, and an
// interrupted flush or read taken for a failure (or for the end of the data)
// is a promise broken or a sound archive refused.
#pragma once

#include <cerrno>

namespace zrk {

// Calls `call` until it answers anything but -1 with errno EINTR. Not for
// close(2), whose descriptor is gone even when it is interrupted.
template <typename Call>
auto again_if_interrupted(Call call) {
  auto result = call();
  while (result == -1 && errno == EINTR) result = call();
  return result;
}

}  // namespace zrk
