// The two archive readers behind extract_archive. Both take platform paths,
// unpack into the existing, empty staging folder (or, with a tally, into the
// tally alone), and stop at the first problem with one line and its status.
#pragma once

#include <filesystem>

#include "archive/extract.h"

namespace zrk {

// Checks the whole member table first and writes nothing unless every member
// passes; then writes the members and checks their data against their sizes.
ExtractStatus extract_zip(const std::filesystem::path& archive_path,
                          const std::filesystem::path& staging_path, Messages* messages,
                          StagedTally* tally = nullptr);

// Streams a gzip-compressed (or plain) ustar tarball, writing each member as
// its header comes.
ExtractStatus extract_tarball(const std::filesystem::path& archive_path,
                              const std::filesystem::path& staging_path, Messages* messages,
                              StagedTally* tally = nullptr);

}  // namespace zrk
