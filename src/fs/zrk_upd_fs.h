// The file system as the install swap sees it: four yes/no operations on UTF-8
// paths. No error detail crosses this interface; the caller words the message.
#pragma once

#include <memory>
#include <string>

namespace zrk {

class ZrkUpdFs {
 public:
  virtual ~ZrkUpdFs() = default;

  // True when something of any type stands at `path`. A link is asked about
  // itself, so a dangling link is present; a path whose status cannot be read
  // counts as absent.
  virtual bool exists(const std::string& path) = 0;

  // Moves `from` to `to`, replacing an item at `to` where the host allows it.
  // True when the item that stood at `from` now stands at `to`. Transient
  // failures are retried inside; only the final answer comes back.
  virtual bool rename(const std::string& from, const std::string& to) = 0;

  // Removes `path` and everything below it (links are removed, not followed;
  // read-only entries go too). Goes on past a failure and always ends. True
  // when nothing stands there afterwards and no error was met; a missing path
  // is success.
  virtual bool remove_all(const std::string& path) = 0;

  // Creates the folder `path` and its missing parents. True when `path` is a
  // folder afterwards, whether or not it existed before.
  virtual bool create_directories(const std::string& path) = 0;
};

// Returns the host's file system. Paths that are not valid UTF-8 raise
// std::system_error from every operation instead of answering false.
std::unique_ptr<ZrkUpdFs> make_host_fs();

}  // namespace zrk
