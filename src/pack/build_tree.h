// The build folder as an archive will hold it: its payload entries below the
// top folder, every name judged by the updater's member path rules, and
// every entry that the updater could not install named.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zrk {

struct BuildEntry {
  std::uint32_t name_offset = 0;  // into BuildTree::names
  std::uint32_t name_size = 0;
  std::uint64_t size = 0;  // data bytes; 0 for a folder
  bool folder = false;
  bool executable = false;  // a file with an execute bit (POSIX hosts)
};

struct BuildTree {
  std::filesystem::path root;
  // The members' names back to back; a folder's ends in "/".
  std::string names;
  // Sorted bytewise by name, so the top folder "Z-Ravelkin/" comes first and
  // every folder before its contents.
  std::vector<BuildEntry> entries;
  std::uint64_t data_bytes = 0;

  std::string_view name(const BuildEntry& entry) const {
    return std::string_view(names).substr(entry.name_offset, entry.name_size);
  }
  // The entry's path in the build folder.
  std::filesystem::path source(const BuildEntry& entry) const;
};

// What the scan leaves out besides the names outside the payload.
struct ScanOptions {
  std::string shown_root;             // the build folder as the user wrote it
  std::vector<std::string> excludes;  // --exclude patterns (pack/litter.h)
  bool keep_litter = false;           // true: litter goes in like any file
};

struct BuildScan {
  BuildTree tree;
  // One "left out <path> (<why>)" line for each entry left out (top-level
  // names outside the payload, litter, --exclude matches), sorted; nothing
  // below an entry left out is looked at.
  std::vector<std::string> left_out;
  // Why the updater would refuse or lose part of this tree, one line each,
  // sorted. Empty when the tree can be packed.
  std::vector<std::string> problems;
  // "cannot read " + a path + ": " + the host's text, when the folder could
  // not be read; the scan stops there.
  std::string read_error;
};

// Walks `root` without following links. Never throws for what it finds.
// Judges the whole tree as the updater would judge the archive made from
// it, so that every problem is found in one pass.
BuildScan scan_build_folder(const std::filesystem::path& root, const ScanOptions& options);

}  // namespace zrk
