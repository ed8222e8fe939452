#include "pack/staged_tally.h"

#include <algorithm>

#include "common/text.h"
#include "pack/litter.h"

namespace zrk {

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

void StagedTally::note_if_litter(const std::filesystem::path& entry) {
  if (!is_litter(to_utf8(entry.filename()))) return;
  std::string relative = to_utf8(entry.lexically_relative(root));
  // A member name never holds a backslash, so each one is a separator here.
  std::replace(relative.begin(), relative.end(), '\\', '/');
  litter.insert(std::move(relative));
}

void StagedTally::add_folder(std::filesystem::path folder) {
  // Stops at the first folder already known: those above it are known too.
  while (!folder.empty() && folder != root && folders.insert(path_hash(folder))) {
    note_if_litter(folder);
    std::filesystem::path parent = folder.parent_path();
    if (parent == root) top.emplace(to_utf8(folder.filename()), false);
    if (parent == folder) break;
    folder = std::move(parent);
  }
}

bool StagedTally::make_folder(const std::filesystem::path& folder) {
  add_folder(folder);
  return true;
}

bool StagedTally::make_parent_folders(const std::filesystem::path& file) {
  add_folder(file.parent_path());
  return true;
}

bool StagedTally::open_file(const std::filesystem::path& file, FileKind) {
  close_file();
  file_open_ = true;
  file_path_ = file;
  file_length_ = 0;
  return true;
}

bool StagedTally::write_file(const char* /*data*/, std::size_t size) {
  if (!file_open_) return false;
  file_length_ += size;
  return true;
}

bool StagedTally::close_file() {
  if (!file_open_) return false;
  file_open_ = false;
  files.put(path_hash(file_path_), file_length_);
  note_if_litter(file_path_);
  if (file_path_.parent_path() == root) top[to_utf8(file_path_.filename())] = true;
  return true;
}

void StagedTally::skip_member(SkippedMember member) { skipped.push_back(std::move(member.name)); }

}  // namespace zrk
