// A fresh folder under the temporary folder for one test, removed with everything in it at
// the end of the test; plus small whole-file helpers.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vornex::testing {

class TempDir {
 public:
  // A name nobody has taken: create_directory says whether the folder was made here.
  TempDir() {
    std::mt19937_64 names{std::random_device{}()};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto candidate = base / ("vornex-test-" + std::to_string(names() % 1000000000));
      if (std::filesystem::create_directory(candidate)) {
        // Private to this user, as a runtime folder must be.
        std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        path_ = candidate.string();
        return;
      }
    }
    throw std::runtime_error("no fresh test folder under " + base.string());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vornex::testing
