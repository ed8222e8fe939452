// Times the swap on its own, in process: swap_payload through make_host_fs()
// on an install folder and a staging folder that both hold all eleven payload
// items, with thousands of files in the font folder. Also times the rest of
// the run's tail (listing staging before, then the marker and the removal of
// staging and backup), which the log's one-second stamps cannot resolve.
// Usage: swap_bench WORK_FOLDER [FONT_FILES] [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "fs/zrk_upd_fs.h"
#include "swap/payload.h"
#include "swap/swap.h"

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

void write_file(const stdfs::path& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  const std::string data(size, 'z');
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// The eleven items; folders get a few files, the font folder `font_files`.
void make_payload(const stdfs::path& root, int font_files) {
  stdfs::create_directories(root);
  for (const char* name : zrk::kShippedPayload) {
    const std::string item = name;
    const bool folder =
        item == "typefaces" || item == "asset-rules" || item == "gpu-programs" || item == "CREDITS";
    if (!folder) {
      write_file(root / item, 4096);
      continue;
    }
    const int count = item == "typefaces" ? font_files : 20;
    for (int i = 0; i < count; ++i) {
      const stdfs::path sub = root / item / ("d" + std::to_string(i % 40));
      stdfs::create_directories(sub);
      write_file(sub / ("f" + std::to_string(i)), 512);
    }
  }
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: swap_bench WORK_FOLDER [FONT_FILES] [ROUNDS]\n");
    return 2;
  }
  const stdfs::path work = argv[1];
  const int font_files = argc > 2 ? std::atoi(argv[2]) : 5000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;

  std::vector<double> swap_ms;
  std::vector<double> tail_ms;
  for (int round = 0; round < rounds; ++round) {
    const stdfs::path base = work / ("round" + std::to_string(round));
    const stdfs::path install = base / "install";
    make_payload(install, font_files);
    make_payload(install / ".update" / "staging", font_files);

    const std::string install_text = zrk::to_utf8(install);
    const std::string staging = zrk::join_path(install_text, ".update/staging");
    const std::string backup = zrk::join_path(install_text, ".update/backup");

    const Clock::time_point tail_start = Clock::now();
    const std::vector<std::string> names = zrk::list_dir_names(zrk::from_utf8(staging));
    const std::unique_ptr<zrk::ZrkUpdFs> fs = zrk::make_host_fs();
    zrk::Messages messages;
    zrk::SwapOutcome outcome;
    const Clock::time_point swap_start = Clock::now();
    zrk::swap_payload(&outcome, fs.get(), install_text, staging, backup, names, &messages);
    swap_ms.push_back(ms_since(swap_start));
    if (outcome.status != zrk::kSwapOk || names.size() != zrk::kShippedPayload.size()) {
      std::fprintf(stderr, "swap failed: status %d\n", static_cast<int>(outcome.status));
      return 1;
    }
    std::ofstream(install / ".update" / "applied.ok") << "applied update.tar.gz\n";
    std::error_code ec;
    stdfs::remove_all(zrk::from_utf8(staging), ec);
    stdfs::remove_all(zrk::from_utf8(backup), ec);
    tail_ms.push_back(ms_since(tail_start));
  }
  auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  std::printf("swap_payload %.3f ms, swap and clean-up %.3f ms (median of %d, %d font files)\n",
              median(swap_ms), median(tail_ms), rounds, font_files);
  return 0;
}
