// The message list: report lines that the extraction and the swap hand back to
// the run, which writes each one to the update log. A line has no line end and
// no "zrk-update: " prefix.
#pragma once

#include <string>
#include <vector>

namespace zrk {

using Messages = std::vector<std::string>;

// Appends `line` when a list is given; a stage without a list stays silent.
inline void add_message(Messages* messages, std::string line) {
  if (messages != nullptr) messages->push_back(std::move(line));
}

}  // namespace zrk
