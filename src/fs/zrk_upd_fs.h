// The file system as the install swap sees it: a few yes/no operations on
// UTF-8 paths. No error detail crosses this interface; the caller words the
// message.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace zrk {

// What a status read found at a path. A status that cannot be read is an
// answer of its own: taking it for an absence would let the swap overwrite,
// or the undo remove, an installed item that is still there.
enum class Presence {
  kPresent,    // something of any type stands there
  kAbsent,     // nothing stands there
  kCannotTell  // the status could not be read
};

// What came of giving a file a second name.
enum class LinkResult {
  kLinked,       // the file now has both names
  kUnsupported,  // this file cannot be linked here; move it instead
  kFailed,       // every attempt failed; nothing was made
};

class ZrkUpdFs {
 public:
  virtual ~ZrkUpdFs() = default;

  // Whether something of any type stands at `path`. A link is asked about
  // itself, so a dangling link is present; a name that does not resolve (a
  // parent that is missing or is a file) is absent; any other failure to read
  // the status is kCannotTell.
  virtual Presence exists(const std::string& path) = 0;

  // Whether a regular file stands at `path` itself: kPresent when one does,
  // kAbsent when nothing does or something else (a folder, a link, even to a
  // file) stands there, kCannotTell when the status cannot be read.
  virtual Presence is_file(const std::string& path) = 0;

  // Moves `from` to `to`, replacing an item at `to` where the host allows it.
  // True when the item that stood at `from` now stands at `to`. Transient
  // failures are retried inside; only the final answer comes back.
  virtual bool rename(const std::string& from, const std::string& to) = 0;

  // Gives the regular file at `from` the second name `to`, where nothing
  // stands yet. kUnsupported, at once, where the host or the file system
  // cannot link this file (another volume, no hard links, a file that may not
  // be replaced in place); transient failures are retried inside.
  virtual LinkResult link(const std::string& from, const std::string& to) = 0;

  // True when `a` and `b` are two names of one file; false also when either
  // cannot be looked at.
  virtual bool same_file(const std::string& a, const std::string& b) = 0;

  // Puts the file at `from` in the place of the file at `to` in one step, so
  // that a file stands at `to` throughout; a read-only file at `to` is
  // replaced too. True when it did. Retried inside as a move is.
  virtual bool replace(const std::string& from, const std::string& to) = 0;

  // Removes `path` and everything below it (links are removed, not followed;
  // read-only entries go too). True when nothing stands there afterwards and
  // no error was met; a missing path is success. A removal that leaves
  // something is tried again as a move is, since the same holds (a virus
  // scanner's open file) keep it from going.
  virtual bool remove_all(const std::string& path) = 0;

  // Creates the folder `path` and its missing parents. True when `path` is a
  // folder afterwards, whether or not it existed before.
  virtual bool create_directories(const std::string& path) = 0;

  // Puts the entry at `path`, and every name made in or taken from the folder
  // that holds it so far, on the device. True when the host says they are
  // there; false also when nothing stands at `path`.
  virtual bool flush_entry(const std::string& path) = 0;
};

// How often, and how far apart, a move, link, replace or removal is tried. The
// build of the updater that the tests run hands a shorter pause to
// run_update.
inline constexpr int kMoveAttempts = 20;
inline constexpr std::chrono::milliseconds kMoveRetryDelay{250};

// Returns the host's file system, pausing `retry_delay` between attempts.
// Paths that are not valid UTF-8 raise std::system_error from every operation
// instead of answering false.
std::unique_ptr<ZrkUpdFs> make_host_fs(std::chrono::milliseconds retry_delay = kMoveRetryDelay);

}  // namespace zrk
