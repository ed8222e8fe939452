// For the POSIX host files only: the listing of a folder that is already
// open, for walks that go on relative to it.
#pragma once

#include <dirent.h>

#include <system_error>
#include <vector>

#include "fs/listing.h"

namespace zrk {

// Appends the entries of the open folder `stream`, read from where it stands
// to its end, as list_folder_entries does; each entry is asked about
// relative to the stream's folder.
std::error_code read_folder_entries(DIR* stream, EntryDetail detail,
                                    std::vector<FolderEntry>* entries);

}  // namespace zrk
