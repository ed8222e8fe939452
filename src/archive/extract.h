// Extraction of an update archive into the staging folder: the reader is
// chosen by the archive's name, and the archive is unpacked whole or refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/exit_codes.h"
#include "common/messages.h"

namespace zrk {

// 0 extracted, 3 refused, 5 the staging folder could not be written: the
// run's exit code for each.
using ExtractStatus = std::uint32_t;
inline constexpr ExtractStatus kExtracted = kExitApplied;
inline constexpr ExtractStatus kRefused = kExitArchiveRefused;
inline constexpr ExtractStatus kCannotWrite = kExitCannotWrite;

// Declared file data may reach this many bytes but not pass it.
inline constexpr std::uint64_t kExpansionCap = 2147483648ULL;
inline constexpr std::uint64_t kMemberLimit = 200000;
inline constexpr std::size_t kCopyBufferSize = 65536;

// What one archive may hold. The shipped program and zrk-pack always read
// with the default; the tests read with small figures so that what counts
// toward them is shown without gigabytes of input.
struct ArchiveLimits {
  std::uint64_t expansion_cap = kExpansionCap;
  std::uint64_t member_limit = kMemberLimit;
};

// The cap as the refusal lines word it: "2 GB" for the shipped cap, whole
// binary units where the figure has them, otherwise "<bytes>-byte".
std::string cap_words(std::uint64_t cap);

enum class ArchiveType { kUnknown, kZip, kTarball };

class StagingSink;

// The reader that extract_archive chooses for `archive_text` (UTF-8): ".zip",
// or ".tar.gz" and ".tgz", at the very end of the text, ASCII case ignored.
ArchiveType archive_type(std::string_view archive_text);

// Unpacks the archive at `archive_text` (UTF-8) into the existing, empty
// folder `staging_text`: ".zip" goes to the zip reader, ".tar.gz" and ".tgz"
// to the tarball reader (ASCII case ignored); anything else is refused without
// opening it. Every nonzero status comes with exactly one failure line, the
// last one appended.
ExtractStatus extract_archive(std::string_view archive_text, std::string_view staging_text,
                              Messages* messages);
// The same through `sink` (archive/staging_sink.h), which is handed the
// staged paths below `staging_text` and makes of them what it will: every
// member is read and judged the same way, and the lines are the same as
// long as the sink answers the same.
ExtractStatus extract_archive(std::string_view archive_text, std::string_view staging_text,
                              Messages* messages, StagingSink& sink,
                              const ArchiveLimits& limits = {});

}  // namespace zrk
