#include "support/memory_staging.h"

#include "archive/extract.h"
#include "archive/member_path.h"
#include "common/text.h"

namespace zrk::test {

namespace {

constexpr auto kSeparator = std::filesystem::path::preferred_separator;
constexpr bool kWindowsHost = kSeparator != '/';
// In the host's own units: bytes on POSIX, UTF-16 units on Windows, where
// the long path form takes a path of up to 32,767 of them.
constexpr std::size_t kNameMax = 255;
constexpr std::size_t kPathMax = kWindowsHost ? 32767 : 4095;
// std::filesystem::create_directories, which makes the POSIX host's folders,
// gives up on a path with more missing folders than this.
constexpr std::size_t kMissingFolderLimit = kWindowsHost ? static_cast<std::size_t>(-1) : 1000;

}  // namespace

MemoryStaging::MemoryStaging(std::filesystem::path staging_root) : root_(std::move(staging_root)) {
  prefix_ = root_.native();
  if (prefix_.empty() || prefix_.back() != kSeparator) prefix_ += kSeparator;
}

void MemoryStaging::note_breach(const std::string& what) {
  if (breach_.empty()) breach_ = what;
}

bool MemoryStaging::below_root(const std::filesystem::path& path, Native* relative) {
  const Native& native = path.native();
  if (native.size() + 1 == prefix_.size() && prefix_.compare(0, native.size(), native) == 0) {
    relative->clear();
    return true;
  }
  if (native.compare(0, prefix_.size(), prefix_) != 0) {
    note_breach("staged outside the staging folder: " + to_utf8(path));
    return false;
  }
  relative->assign(native, prefix_.size(), Native::npos);
  std::string text = to_utf8(std::filesystem::path(*relative));
  if (kWindowsHost) {
    for (char& c : text) c = c == '\\' ? '/' : c;
  }
  std::string yielded;
  if (!check_member_path(std::string(kTopFolder) + text, &yielded, nullptr) || yielded != text) {
    note_breach("staged path breaks the member path rules: " + text);
    return false;
  }
  return true;
}

bool MemoryStaging::make_folders(const Native& relative) {
  if (relative.empty()) return true;
  if (prefix_.size() + relative.size() > kPathMax) return false;
  std::size_t missing = 0;
  for (std::size_t start = 0; start <= relative.size();) {
    std::size_t end = relative.find(kSeparator, start);
    if (end == Native::npos) end = relative.size();
    if (end - start > kNameMax) return false;
    if (entries_.find(relative.substr(0, end)) == entries_.end()) ++missing;
    start = end + 1;
  }
  if (missing > kMissingFolderLimit) return false;
  for (std::size_t start = 0; start <= relative.size();) {
    std::size_t end = relative.find(kSeparator, start);
    if (end == Native::npos) end = relative.size();
    const auto found = entries_.emplace(relative.substr(0, end), Entry{true, 0}).first;
    if (!found->second.folder) return false;
    start = end + 1;
  }
  return true;
}

bool MemoryStaging::make_folder(const std::filesystem::path& folder) {
  Native relative;
  return below_root(folder, &relative) && make_folders(relative);
}

bool MemoryStaging::make_parent_folders(const std::filesystem::path& file) {
  return make_folder(file.parent_path());
}

bool MemoryStaging::open_file(const std::filesystem::path& file, FileKind) {
  open_ = nullptr;
  Native relative;
  if (!below_root(file, &relative)) return false;
  if (relative.empty()) {
    note_breach("a file opened at the staging folder itself");
    return false;
  }
  const std::size_t cut = relative.rfind(kSeparator);
  const std::size_t name = cut == Native::npos ? relative.size() : relative.size() - cut - 1;
  if (name > kNameMax || prefix_.size() + relative.size() > kPathMax) return false;
  if (cut != Native::npos) {
    const auto parent = entries_.find(relative.substr(0, cut));
    if (parent == entries_.end() || !parent->second.folder) return false;
  }
  Entry& entry = entries_[relative];
  if (entry.folder) return false;
  entry.length = 0;
  open_ = &entry;
  return true;
}

bool MemoryStaging::write_file(const char* /*data*/, std::size_t size) {
  if (open_ == nullptr) return false;
  open_->length += size;
  written_ += size;
  if (written_ > kExpansionCap) note_breach("file data past the expansion cap was written");
  return true;
}

bool MemoryStaging::close_file() {
  if (open_ == nullptr) return false;
  open_ = nullptr;
  return true;
}

void MemoryStaging::skip_member(SkippedMember member) {
  skipped_.push_back(std::move(member.name));
}

std::map<std::string, MemoryStaging::Entry> MemoryStaging::staged() const {
  std::map<std::string, Entry> staged;
  for (const auto& [relative, entry] : entries_) {
    std::string text = to_utf8(std::filesystem::path(relative));
    if (kWindowsHost) {
      for (char& c : text) c = c == '\\' ? '/' : c;
    }
    staged.emplace(std::move(text), entry);
  }
  return staged;
}

}  // namespace zrk::test
