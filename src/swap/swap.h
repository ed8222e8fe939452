// The install swap: each payload item's installed form goes into the backup
// folder and its staged form into the install folder; a failed move undoes the
// completed moves, last first. A file that replaces a file is linked into the
// backup and then renamed over the installed one, so its name is never free;
// the game's program takes the last turn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/messages.h"
#include "fs/zrk_upd_fs.h"

namespace zrk {

enum SwapStatus : std::int32_t {
  kSwapOk = 0,
  kSwapNoFs = 1,
  kSwapNoPayload = 3,
  kSwapFailed = 4,
};

struct SwapOutcome {
  std::int32_t status = kSwapOk;
  std::string failed_at;          // the item whose move failed; empty otherwise
  bool rollback_complete = true;  // false once any undo step failed
};

// Swaps the payload items among `staged_names` from `staging` into `install`
// through `backup`, filling `outcome` from scratch. `fs` is borrowed and may be
// null (status kSwapNoFs). Lines go to `messages` when given. Errors raised by
// `fs` are not caught.
//
// `mark`, when given, is a path beside the backup folder that tells a later
// run that the backup holds the old forms of a swap that did not finish. The
// swap puts it on the device before its first move and leaves it in place:
// the caller takes it away once what the swap did is on the device. Found at
// the start, it has every old form in the backup put back over the new one
// before anything else happens. Without a mark, whatever the backup holds is
// taken to be left over from a finished update and is discarded, vacant
// places filled from it first.
void swap_payload(SwapOutcome* outcome, ZrkUpdFs* fs, const std::string& install,
                  const std::string& staging, const std::string& backup,
                  const std::vector<std::string>& staged_names, Messages* messages,
                  const std::string& mark = std::string());

}  // namespace zrk
