#include "fs/listing.h"

#include "common/text.h"

namespace zrk {

std::error_code list_folder_names(const std::filesystem::path& folder,
                                  std::vector<std::string>* names) {
  std::vector<FolderEntry> entries;
  const std::error_code error = list_folder_entries(folder, &entries, EntryDetail::kKinds);
  for (const FolderEntry& entry : entries) names->push_back(to_utf8(entry.name));
  return error;
}

}  // namespace zrk
