#include "archive/readers.h"

namespace zrk {

ExtractStatus extract_tarball(const std::filesystem::path&, const std::filesystem::path&,
                              Messages* messages) {
  add_message(messages, "tarballs are not supported yet");
  return kRefused;
}

}  // namespace zrk
