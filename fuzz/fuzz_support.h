// What the harnesses share: a property check that stops the run with its text (libFuzzer then
// keeps the input), a guard that turns an escaping exception into such a stop, and a private
// scratch folder for the parsers that only read files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

namespace vornex::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

// Runs `parse` and hands back its result; an exception that escapes it is a failure.
template <typename Parse>
auto NoThrow(const char* what, Parse&& parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s threw: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s threw a non-standard exception\n", what);
  }
  std::fflush(stderr);
  std::abort();
}

// A folder of this process under $TMPDIR (else /tmp), removed when the process exits normally.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vornex-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return pattern;
  }();
  static const bool cleanup = [] {
    return std::atexit([] {
             std::error_code ec;
             std::filesystem::remove_all(ScratchFolder(), ec);
           }) == 0;
  }();
  (void)cleanup;
  return folder;
}

// Replaces the file with one holding the bytes. The old file is removed first: rewriting a file
// in place makes some file systems flush it to disk on every close.
inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  ::unlink(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) ||
      std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

}  // namespace vornex::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::vornex::fuzz::Fail(#condition, __FILE__, __LINE__))
