#include "swap/swap.h"

namespace zrk {

// Not built yet: reports a failed swap without touching anything.
void swap_payload(SwapOutcome* outcome, ZrkUpdFs*, const std::string&, const std::string&,
                  const std::string&, const std::vector<std::string>&, Messages* messages) {
  *outcome = SwapOutcome{};
  outcome->status = kSwapFailed;
  add_message(messages, "the swap is not built yet");
}

}  // namespace zrk
