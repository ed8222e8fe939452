#include "archive/staging.h"

#include <system_error>

#include "common/host_folders.h"
#include "common/text.h"

namespace zrk {

std::filesystem::path staged_path(const std::filesystem::path& staging_path,
                                  std::string_view relative_path) {
  // The long path form on Windows takes only "\\" as a separator.
  std::filesystem::path path = staging_path / from_utf8(relative_path);
  path.make_preferred();
  return path;
}

bool make_folder(const std::filesystem::path& folder) { return !make_folders(folder); }

bool make_parent_folders(const std::filesystem::path& file) {
  return make_folder(file.parent_path());
}

namespace {

std::size_t path_hash(const std::filesystem::path& path) {
  return std::hash<std::filesystem::path::string_type>()(path.native());
}

}  // namespace

std::size_t StagedTally::HashedLengths::probe_start(std::uint64_t hash) const {
  // The hash of a path may be weak in its low bits (FNV on Windows).
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDULL;
  hash ^= hash >> 33;
  return static_cast<std::size_t>(hash) & (slots_.size() - 1);
}

std::size_t StagedTally::HashedLengths::free_or_equal_slot(std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = probe_start(hash);
  while (slots_[i].hash != 0 && slots_[i].hash != hash) i = (i + 1) & mask;
  return i;
}

std::uint64_t& StagedTally::HashedLengths::length_of(std::uint64_t hash, bool* added) {
  *added = false;
  // 0 marks a free slot; a path of that hash counts as one of hash 1, which
  // is one more clash of the kind the tally already accepts.
  if (hash == 0) hash = 1;
  std::size_t i = slots_.empty() ? 0 : free_or_equal_slot(hash);
  if (!slots_.empty() && slots_[i].hash == hash) return slots_[i].length;
  // Linear probing stays short up to four slots in five in use.
  if ((count_ + 1) * 5 > slots_.size() * 4) {
    std::vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2, Slot{0, 0});
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.hash != 0) slots_[free_or_equal_slot(slot.hash)] = slot;
    }
    i = free_or_equal_slot(hash);
  }
  slots_[i] = {hash, 0};
  ++count_;
  *added = true;
  return slots_[i].length;
}

bool StagedTally::HashedLengths::put(std::uint64_t hash, std::uint64_t length) {
  bool added;
  std::uint64_t& kept = length_of(hash, &added);
  total_ += length - kept;
  kept = length;
  return added;
}

bool StagedTally::HashedLengths::insert(std::uint64_t hash) {
  bool added;
  length_of(hash, &added);
  return added;
}

void StagedTally::add_folder(std::filesystem::path folder) {
  // Stops at the first folder already known: those above it are known too.
  while (!folder.empty() && folder != root && folders.insert(path_hash(folder))) {
    std::filesystem::path parent = folder.parent_path();
    if (parent == root) top.emplace(to_utf8(folder.filename()), false);
    if (parent == folder) break;
    folder = std::move(parent);
  }
}

void StagedTally::add_file(const std::filesystem::path& path, std::uint64_t length) {
  files.put(path_hash(path), length);
  if (path.parent_path() == root) top[to_utf8(path.filename())] = true;
}

bool StagingFolders::make(const std::filesystem::path& folder) {
  if (tally_ != nullptr) {
    tally_->add_folder(folder);
    return true;
  }
  return zrk::make_folder(folder);
}

bool StagingFolders::make_folder(const std::filesystem::path& folder) {
  if (!make(folder)) return false;
  last_made_ = folder;
  return true;
}

bool StagingFolders::make_parent_folders(const std::filesystem::path& file) {
  std::filesystem::path parent = file.parent_path();
  if (!last_made_.empty() && parent.native() == last_made_.native()) return true;
  if (!make(parent)) return false;
  last_made_ = std::move(parent);
  return true;
}

bool StagedFile::open(const std::filesystem::path& path) {
  close();
  if (tally_ == nullptr) return open_host(path);
  tallying_ = true;
  tallied_path_ = path;
  tallied_length_ = 0;
  return true;
}

bool StagedFile::write(const char* data, std::size_t size) {
  if (!tallying_) return write_host(data, size);
  tallied_length_ += size;
  return true;
}

bool StagedFile::close() {
  if (!tallying_) return close_host();
  tallying_ = false;
  tally_->add_file(tallied_path_, tallied_length_);
  return true;
}

}  // namespace zrk
