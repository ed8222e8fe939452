#include "fs/zrk_upd_fs.h"

namespace zrk {

namespace {

// Not built yet: every operation fails.
class HostFs final : public ZrkUpdFs {
 public:
  bool exists(const std::string&) override { return false; }
  bool rename(const std::string&, const std::string&) override { return false; }
  bool remove_all(const std::string&) override { return false; }
  bool create_directories(const std::string&) override { return false; }
};

}  // namespace

std::unique_ptr<ZrkUpdFs> make_host_fs() { return std::make_unique<HostFs>(); }

}  // namespace zrk
