// What zrk-pack needs of the console: whether stderr is a terminal, and
// leaving nothing half-made behind when the user interrupts it.
#pragma once

#include <filesystem>

namespace zrk {

// Arranges that an interrupt (Ctrl-C; also SIGTERM and SIGHUP on POSIX)
// removes every registered path and ends the process with exit code 130.
// Called once, before any other thread starts.
void install_interrupt_cleanup();

// Registers `path` (a file or a folder, removed whole), with any sibling whose
// name is its name followed by "." (a library's own temporary copy of it).
void remove_on_interrupt(const std::filesystem::path& path);
// Withdraws a registration; the path is left alone from then on.
void keep_on_interrupt(const std::filesystem::path& path);

// Removes `path` and its siblings as remove_on_interrupt describes them.
void remove_path_and_copies(const std::filesystem::path& path);

// Removes what is registered. Called by the host's interrupt handler.
void remove_registered_paths();

// True when standard error is a terminal (a console on Windows).
bool stderr_is_terminal();

}  // namespace zrk
