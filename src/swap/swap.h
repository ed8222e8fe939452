// The install swap: each payload item's installed form moves into the backup
// folder and its staged form into the install folder; a failed move undoes the
// completed moves, last first.
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

struct PayloadItem {
  std::string name;
  bool existed = false;  // the install folder held this name before the swap
};

// Swaps the payload items among `staged_names` from `staging` into `install`
// through `backup`, filling `outcome` from scratch. `fs` is borrowed and may be
// null (status kSwapNoFs). Lines go to `messages` when given. Errors raised by
// `fs` are not caught.
void swap_payload(SwapOutcome* outcome, ZrkUpdFs* fs, const std::string& install,
                  const std::string& staging, const std::string& backup,
                  const std::vector<std::string>& staged_names, Messages* messages);

}  // namespace zrk
