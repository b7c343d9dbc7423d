// Reading a small kernel file (a sysfs attribute, a /proc entry) from an open descriptor.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace vornex {

// At most `limit` bytes from the descriptor, read until its end; an interrupted read is
// retried, and a read error ends the text where it stands.
inline std::string ReadAtMost(int fd, std::size_t limit) {
  std::string text(limit, '\0');
  std::size_t size = 0;
  while (size < text.size()) {
    const ssize_t got = ::read(fd, text.data() + size, text.size() - size);
    if (got > 0) {
      size += static_cast<std::size_t>(got);
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  text.resize(size);
  return text;
}

}  // namespace vornex
