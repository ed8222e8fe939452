// The floors' one write path: write(2) until every byte is out.
#pragma once

#include <unistd.h>

#include <cstddef>

inline bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}
