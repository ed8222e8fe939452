#include "archive/readers.h"

namespace zrk {

ExtractStatus extract_zip(const std::filesystem::path&, const std::filesystem::path&,
                          Messages* messages) {
  add_message(messages, "zip archives are not supported yet");
  return kRefused;
}

}  // namespace zrk
