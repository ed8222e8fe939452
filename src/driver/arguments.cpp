#include "driver/arguments.h"

#include "common/text.h"

namespace zrk {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  std::vector<std::string> args;
  args.reserve(argc > 0 ? static_cast<size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i] != nullptr ? argv[i] : "";
    if (!is_valid_utf8(arg)) arg.clear();
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace zrk
