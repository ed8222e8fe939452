#include "driver/update_run.h"

#include <exception>
#include <system_error>

#include "archive/extract.h"
#include "common/messages.h"
#include "common/text.h"
#include "driver/process.h"
#include "driver/update_log.h"
#include "fs/durable.h"
#include "fs/host_folders.h"
#include "fs/host_tree.h"
#include "fs/listing.h"
#include "fs/zrk_upd_fs.h"
#include "swap/payload.h"
#include "swap/swap.h"

namespace zrk {

namespace {

void log_messages(WritableFile* log, const Messages& messages) {
  for (const std::string& line : messages) log_line(log, "%s", line.c_str());
}

// The final component of the archive path: the text after its last slash or
// backslash, on every host.
std::string archive_file_name(const std::string& archive_text) {
  const size_t cut = archive_text.find_last_of("/\\");
  return cut == std::string::npos ? archive_text : archive_text.substr(cut + 1);
}

// A work folder: its text as the log shows it, which follows the install
// folder as written, and the path the run works on.
struct WorkFolder {
  std::string shown;
  std::string at;
};

WorkFolder work_folder(const std::string& install, const std::string& install_at,
                       const char* below) {
  return {join_path(install, below), join_path(install_at, below)};
}

// Windows cannot delete a running program's file, so when the update brought
// a new updater, the one running now stays in the backup until the next run.
bool only_the_running_updater_left(const TreeRemoval& removal, const WorkFolder& backup) {
  return removal.left.size() == 1 &&
         removal.left.front() == from_utf8(join_path(backup.at, updater_exe_name()));
}

// Removes a work folder after the update; what stays is logged, and the run
// goes on.
void remove_work_folder(WritableFile* log, const WorkFolder& folder, const WorkFolder& backup) {
  const TreeRemoval removal = remove_tree(from_utf8(folder.at));
  if (!removal.error) return;
  if (folder.at == backup.at && only_the_running_updater_left(removal, backup)) {
    log_line(log, "zrk-update: the previous updater stays in %s until the next update",
             backup.shown.c_str());
    return;
  }
  log_line(log, "zrk-update: could not remove %s: %s", folder.shown.c_str(),
           removal.error.message().c_str());
}

// The marker reaches the device before anything that it vouches for is
// cleaned up.
bool write_marker(const std::filesystem::path& marker, const std::string& archive_text) {
  WritableFile file;
  if (file.open(marker, WriteStart::kEmpty)) return false;
  const std::string line = "applied " + archive_file_name(archive_text) + "\n";
  const bool written = !file.write(line.data(), line.size()) && !file.sync();
  return !file.close() && written;
}

// After the swap a folder whose entries did not reach the device is only
// reported: the update has been made and stands. False when it was reported.
bool flush_swapped_folder(WritableFile* log, const WorkFolder& folder) {
  const std::error_code ec = flush_folder(from_utf8(folder.at));
  if (!ec) return true;
  log_line(log, "zrk-update: could not flush %s: %s", folder.shown.c_str(), ec.message().c_str());
  return false;
}

// Takes away the swap's mark once every move it vouches for is on the device;
// from then on the backup holds only forms the install folder has left
// behind, which must never come back.
std::error_code clear_swap_mark(const WorkFolder& mark) {
  return remove_tree(from_utf8(mark.at)).error;
}

// Why the game cannot start where no system error says it.
void log_start_error(WritableFile* log, std::error_code ec, const std::string& install) {
  if (ec == std::errc::filename_too_long) {
    log_line(log, "zrk-update: %s is too deep a folder to start a program in", install.c_str());
  }
}

}  // namespace

int apply_update(const UpdateOptions& options, const std::filesystem::path& update_dir,
                 WritableFile* log, ZrkUpdFs* fs) {
  const std::string install = to_utf8(options.install);
  const std::string archive = to_utf8(options.archive);
  const std::string relaunch = to_utf8(options.relaunch);
  // The log shows the paths as written; the work goes on their absolute form.
  const std::string install_at = absolute_path_text(install);
  const WorkFolder staging = work_folder(install, install_at, ".update/staging");
  const WorkFolder backup = work_folder(install, install_at, ".update/backup");
  const WorkFolder mark = work_folder(install, install_at, ".update/swap-unfinished");
  const std::filesystem::path staging_path = from_utf8(staging.at);

  log_line(log, "zrk-update: install %s", install.c_str());
  log_line(log, "zrk-update: archive %s", archive.c_str());
  log_line(log, "zrk-update: relaunch %s", relaunch.c_str());

  if (!wait_for_game(log, options.pid)) {
    log_line(log, "zrk-update: giving up without touching the install folder");
    return kExitGameStillRunning;
  }
  log_line(log, "zrk-update: the game has exited");

  const TreeRemoval cleared = remove_tree(staging_path);
  if (cleared.error) {
    log_line(log, "zrk-update: cannot clear %s: %s", staging.shown.c_str(),
             cleared.error.message().c_str());
    return kExitCannotWrite;
  }
  if (const std::error_code ec = make_folders(staging_path)) {
    log_line(log, "zrk-update: cannot create %s: %s", staging.shown.c_str(), ec.message().c_str());
    return kExitCannotWrite;
  }

  Messages messages;
  // The archive goes as written: the readers name it in their lines.
  const ExtractStatus extracted = extract_archive(archive, staging.at, &messages);
  log_messages(log, messages);
  if (extracted != kExtracted) {
    log_line(log, "zrk-update: the archive was refused, the install folder is unchanged");
    return static_cast<int>(extracted);
  }
  // Every staged byte is on the device before the first move, so no cut can
  // leave an empty file where the game's was.
  // A staging folder that cannot be listed is as unusable as one that cannot
  // be flushed; an empty listing would read as an archive without the game.
  // So is a staged game program whose status cannot be read.
  std::vector<std::string> staged_names;
  std::error_code unreadable = flush_tree(staging_path);
  if (!unreadable) unreadable = list_folder_names(staging_path, &staged_names);
  const bool holds_game =
      !unreadable && holds_game_program(staging_path, staged_names, &unreadable);
  if (unreadable) {
    log_line(log, "zrk-update: cannot write %s", staging.shown.c_str());
    return kExitCannotWrite;
  }
  if (!holds_game) {
    log_line(log, "zrk-update: the archive holds no %s, the install folder is unchanged",
             game_exe_name());
    return kExitArchiveRefused;
  }
  log_line(log, "zrk-update: swapping %zu staged item(s)", staged_names.size());

  messages.clear();
  SwapOutcome outcome;
  swap_payload(&outcome, fs, install_at, staging.at, backup.at, staged_names, &messages, mark.at);
  log_messages(log, messages);
  if (outcome.status != kSwapOk) {
    log_line(log, "zrk-update: the swap failed at %s and the rollback is %s",
             outcome.failed_at.c_str(), outcome.rollback_complete ? "complete" : "INCOMPLETE");
    const std::error_code ec = start_program(options.relaunch, options.install);
    if (!ec) return kExitSwapFailed;
    log_start_error(log, ec, install);
    log_line(log, "zrk-update: could not start %s after the rollback", relaunch.c_str());
    return kExitCannotWrite;
  }

  flush_swapped_folder(log, {install, install_at});
  flush_swapped_folder(log, backup);
  if (const std::error_code ec = clear_swap_mark(mark)) {
    log_line(log, "zrk-update: cannot remove %s: %s", mark.shown.c_str(), ec.message().c_str());
    return kExitCannotWrite;
  }
  const std::filesystem::path marker = update_dir / "applied.ok";
  if (!write_marker(marker, archive)) {
    log_line(log, "zrk-update: cannot write %s", to_utf8(marker).c_str());
    return kExitCannotWrite;
  }
  // Until the mark's removal is on the device, a cut could bring it back
  // beside a backup half removed, which would then be put back; so the
  // backup stays for the next run.
  const bool mark_gone = flush_swapped_folder(log, {to_utf8(update_dir), to_utf8(update_dir)});

  remove_work_folder(log, staging, backup);
  if (mark_gone) {
    remove_work_folder(log, backup, backup);
  } else {
    log_line(log, "zrk-update: %s stays until the next update", backup.shown.c_str());
  }

  log_line(log, "zrk-update: update applied, starting %s", relaunch.c_str());
  const std::error_code ec = start_program(options.relaunch, options.install);
  if (!ec) return kExitApplied;
  log_start_error(log, ec, install);
  log_line(log, "zrk-update: could not start %s", relaunch.c_str());
  return kExitCannotWrite;
}

int run_update(const std::vector<std::string>& args, std::chrono::milliseconds move_retry_delay) {
  // A bad command line leaves no trace, so its text has nowhere to go.
  UpdateOptions options;
  if (!parse_options(args, &options, nullptr)) return kExitBadCommandLine;

  const std::filesystem::path update_dir =
      from_utf8(join_path(absolute_path_text(to_utf8(options.install)), ".update"));
  make_folders(update_dir);
  WritableFile log;
  if (open_update_log(update_dir, &log)) return kExitCannotWrite;

  // A stage that raises (a failed text conversion, memory exhaustion) ends the
  // run here: no later stage runs, and the log says why.
  try {
    const std::unique_ptr<ZrkUpdFs> fs = make_host_fs(move_retry_delay);
    return apply_update(options, update_dir, &log, fs.get());
  } catch (const std::exception& e) {
    log_line(&log, "zrk-update: the run stopped on an unexpected error: %s", e.what());
  } catch (...) {
    log_line(&log, "zrk-update: the run stopped on an unexpected error");
  }
  return kExitCannotWrite;
}

}  // namespace zrk
