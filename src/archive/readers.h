// The two archive readers behind extract_archive. Both take platform paths,
// unpack through `sink` (the existing, empty staging folder, or what stands
// in for it) and stop at the first problem with one line and its status. An
// archive past `limits` (members, or data counted toward the cap) is refused.
#pragma once

#include <filesystem>

#include "archive/extract.h"
#include "archive/staging_sink.h"

namespace zrk {

// Checks the whole member table first and writes nothing unless every member
// passes; then writes the members and checks their data against their sizes.
ExtractStatus extract_zip(const std::filesystem::path& archive_path,
                          const std::filesystem::path& staging_path, Messages* messages,
                          StagingSink& sink, const ArchiveLimits& limits = {});

// Streams a gzip-compressed (or plain) ustar tarball, writing each member as
// its header comes; members it skips go to the sink as well as to the notes.
ExtractStatus extract_tarball(const std::filesystem::path& archive_path,
                              const std::filesystem::path& staging_path, Messages* messages,
                              StagingSink& sink, const ArchiveLimits& limits = {});

}  // namespace zrk
