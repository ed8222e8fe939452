// Times extract_archive on one archive and reports throughput and peak memory.
// Usage: zrk_bench <archive> <staging folder> [runs]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/extract.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zrk_bench <archive> <staging folder> [runs]\n");
    return 2;
  }
  const std::string archive = argv[1];
  const std::filesystem::path staging = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;

  double best = 1e30;
  std::uintmax_t bytes = 0;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove_all(staging);
    std::filesystem::create_directories(staging);
    zrk::Messages messages;
    const auto start = std::chrono::steady_clock::now();
    const zrk::ExtractStatus status = zrk::extract_archive(archive, staging.string(), &messages);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (status != zrk::kExtracted) {
      std::fprintf(stderr, "status %u: %s\n", status,
                   messages.empty() ? "" : messages.back().c_str());
      return 1;
    }
    if (took.count() < best) best = took.count();
    bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(staging)) {
      if (entry.is_regular_file()) bytes += entry.file_size();
    }
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%-28s %8.1f MiB out  best %6.3f s  %7.1f MiB/s  peak RSS %ld KiB\n",
              std::filesystem::path(archive).filename().c_str(), bytes / 1048576.0, best,
              bytes / 1048576.0 / best, usage.ru_maxrss);
  return 0;
}
