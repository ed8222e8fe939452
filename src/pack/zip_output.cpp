#include "pack/zip_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "fs/host_tree.h"
#include "fs/writable_file.h"

namespace zrk {

namespace {

// Written out once this much is buffered: many members' headers, or a big
// member's data in a few writes.
constexpr std::size_t kFlushSize = 1u << 20;

class ZipOutput {
 public:
  ZipOutput(const std::filesystem::path& path, std::string* error_line)
      : path_(path), error_line_(error_line) {
    zip_error_init(&error_);
    buffer_.reserve(kFlushSize + (64u << 10));
  }
  ~ZipOutput() { zip_error_fini(&error_); }
  ZipOutput(const ZipOutput&) = delete;
  ZipOutput& operator=(const ZipOutput&) = delete;

  zip_int64_t command(void* data, zip_uint64_t length, zip_source_cmd_t command);

 private:
  bool begin() {
    at_ = 0;
    end_ = 0;
    start_ = 0;
    buffer_.clear();
    return ok(file_.open(path_, WriteStart::kEmpty));
  }

  // Bytes behind the buffer go to the file in place; the rest into the
  // buffer, which is written out once full and `at_` is its end.
  bool write(const char* data, std::size_t size) {
    if (at_ < start_) {
      const auto behind = static_cast<std::size_t>(std::min<std::uint64_t>(size, start_ - at_));
      if (!ok(file_.write_at(at_, data, behind))) return false;
      at_ += behind;
      end_ = std::max(end_, at_);
      data += behind;
      size -= behind;
    }
    if (size == 0) return true;
    if (at_ > start_ + buffer_.size() && !flush(at_)) return false;
    const auto from = static_cast<std::size_t>(at_ - start_);
    if (from + size > buffer_.size()) buffer_.resize(from + size);
    std::memcpy(buffer_.data() + from, data, size);
    at_ += size;
    end_ = std::max(end_, at_);
    return buffer_.size() < kFlushSize || at_ != start_ + buffer_.size() || flush(at_);
  }

  // Writes the buffer out; it starts again at `next`.
  bool flush(std::uint64_t next) {
    if (!buffer_.empty() && !ok(file_.write_at(start_, buffer_.data(), buffer_.size()))) {
      return false;
    }
    buffer_.clear();
    start_ = next;
    return true;
  }

  bool seek(void* data, zip_uint64_t length) {
    const zip_int64_t to = zip_source_seek_compute_offset(at_, end_, data, length, &error_);
    if (to < 0) return false;
    at_ = static_cast<std::uint64_t>(to);
    return true;
  }

  // Writes what is left, flushed to the device.
  bool commit() {
    if (!flush(end_)) return false;
    const std::error_code synced = file_.sync();
    const std::error_code closed = file_.close();
    return ok(synced ? synced : closed);
  }

  // True when `ec` is no error. Otherwise its line is kept, unless an
  // earlier failure's is, and libzip is told of a write error.
  bool ok(const std::error_code& ec) {
    if (!ec) return true;
    if (error_line_->empty()) {
      *error_line_ = "cannot write " + to_utf8(path_) + ": " + ec.message();
    }
    zip_error_set(&error_, ZIP_ER_WRITE, 0);
    return false;
  }

  std::filesystem::path path_;
  std::string* error_line_;
  zip_error_t error_;
  WritableFile file_;
  std::vector<char> buffer_;  // the file's bytes from `start_` on, not yet written
  std::uint64_t start_ = 0;
  std::uint64_t at_ = 0;   // where libzip writes next
  std::uint64_t end_ = 0;  // the file's length
};

zip_int64_t ZipOutput::command(void* data, zip_uint64_t length, zip_source_cmd_t command) {
  switch (command) {
    case ZIP_SOURCE_STAT:
      // There is no archive yet: libzip makes a new one.
      zip_error_set(&error_, ZIP_ER_READ, ENOENT);
      return -1;
    case ZIP_SOURCE_BEGIN_WRITE:
      return begin() ? 0 : -1;
    case ZIP_SOURCE_WRITE:
      return write(static_cast<const char*>(data), static_cast<std::size_t>(length))
                 ? static_cast<zip_int64_t>(length)
                 : -1;
    case ZIP_SOURCE_SEEK_WRITE:
      return seek(data, length) ? 0 : -1;
    case ZIP_SOURCE_TELL_WRITE:
      return static_cast<zip_int64_t>(at_);
    case ZIP_SOURCE_COMMIT_WRITE:
      return commit() ? 0 : -1;
    case ZIP_SOURCE_ROLLBACK_WRITE:
      file_.close();
      return 0;
    case ZIP_SOURCE_REMOVE:
      remove_tree(path_);
      return 0;
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&error_, data, length);
    case ZIP_SOURCE_FREE:
      delete this;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return ZIP_SOURCE_SUPPORTS_WRITABLE;
    default:
      // Reading: there is nothing to read.
      zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

zip_int64_t output_command(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  return static_cast<ZipOutput*>(state)->command(data, length, command);
}

}  // namespace

zip_source_t* create_zip_output(const std::filesystem::path& path, std::string* error_line,
                                zip_error_t* error) {
  auto* output = new ZipOutput(path, error_line);
  zip_source_t* source = zip_source_function_create(output_command, output, error);
  if (source == nullptr) delete output;
  return source;
}

}  // namespace zrk
