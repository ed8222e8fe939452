// The file system as the install swap sees it: a few yes/no operations on
// UTF-8 paths. No error detail crosses this interface; the caller words the
// message.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace zrk {

// What came of giving a file a second name.
enum class LinkResult {
  kLinked,       // the file now has both names
  kUnsupported,  // this file cannot be linked here; move it instead
  kFailed,       // every attempt failed; nothing was made
};

class ZrkUpdFs {
 public:
  virtual ~ZrkUpdFs() = default;

  // True when something of any type stands at `path`. A link is asked about
  // itself, so a dangling link is present; a path whose status cannot be read
  // counts as absent.
  virtual bool exists(const std::string& path) = 0;

  // True when a regular file stands at `path` itself; a link, even to a file,
  // is not one.
  virtual bool is_file(const std::string& path) = 0;

  // Moves `from` to `to`, replacing an item at `to` where the host allows it.
  // True when the item that stood at `from` now stands at `to`. Transient
  // failures are retried inside; only the final answer comes back.
  virtual bool rename(const std::string& from, const std::string& to) = 0;

  // Gives the regular file at `from` the second name `to`, where nothing
  // stands yet. kUnsupported, at once, where the host or the file system
  // cannot link this file (another volume, no hard links, a file that may not
  // be replaced in place); transient failures are retried inside.
  virtual LinkResult link(const std::string& from, const std::string& to) = 0;

  // Puts the file at `from` in the place of the file at `to` in one step, so
  // that a file stands at `to` throughout; a read-only file at `to` is
  // replaced too. True when it did. Retried inside as a move is.
  virtual bool replace(const std::string& from, const std::string& to) = 0;

  // Removes `path` and everything below it (links are removed, not followed;
  // read-only entries go too). Goes on past a failure and always ends. True
  // when nothing stands there afterwards and no error was met; a missing path
  // is success.
  virtual bool remove_all(const std::string& path) = 0;

  // Creates the folder `path` and its missing parents. True when `path` is a
  // folder afterwards, whether or not it existed before.
  virtual bool create_directories(const std::string& path) = 0;
};

// How often, and how far apart, a move, link or replace is tried. The build
// of the updater that the tests run pauses less.
inline constexpr int kMoveAttempts = 20;
#ifndef ZRK_MOVE_RETRY_DELAY_MS
#define ZRK_MOVE_RETRY_DELAY_MS 250
#endif
inline constexpr std::chrono::milliseconds kMoveRetryDelay{ZRK_MOVE_RETRY_DELAY_MS};

// Returns the host's file system, pausing `retry_delay` between attempts.
// Paths that are not valid UTF-8 raise std::system_error from every operation
// instead of answering false.
std::unique_ptr<ZrkUpdFs> make_host_fs(std::chrono::milliseconds retry_delay = kMoveRetryDelay);

}  // namespace zrk
