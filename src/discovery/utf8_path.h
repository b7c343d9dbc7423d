// File names of the station's texts: UTF-8 inside the program, whatever the system's own file
// name encoding (UTF-16 on Windows, where a plain std::string path would be read in the ANSI
// code page).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vornex {

inline std::filesystem::path PathOfUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8OfPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace vornex
