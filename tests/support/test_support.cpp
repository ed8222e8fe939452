#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zrk::test {

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void write_file(const std::filesystem::path& path, const std::string& content) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string mixed_data(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data;
  while (data.size() < size) {
    if (random() % 2 == 0) {
      data += "rivet " + std::to_string(random() % 50) + " of the hull; ";
    } else {
      for (int i = 0; i < 300; ++i) data += static_cast<char>(random());
    }
  }
  data.resize(size);
  return data;
}

std::map<std::string, std::string> snapshot_tree(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  if (!std::filesystem::exists(root)) return tree;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::string key = it->path().lexically_relative(root).generic_string();
    if (it->is_symlink()) {
      tree[key] = "link:" + std::filesystem::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      tree[key] = "dir";
    } else {
      tree[key] = "file:" + read_file(it->path());
    }
  }
  return tree;
}

bool wait_for_file(const std::filesystem::path& path, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::vector<std::string> read_log_messages(const std::filesystem::path& log) {
  std::vector<std::string> messages;
  std::istringstream lines(read_file(log));
  std::string line;
  while (std::getline(lines, line)) messages.push_back(line.size() > 20 ? line.substr(20) : "");
  return messages;
}

std::string tool_path(const std::string& name) { return std::string(ZRK_TEST_TOOLS) + "/" + name; }

}  // namespace zrk::test
