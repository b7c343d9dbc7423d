// A picture of the station window as a PNG file (unattended runs: documentation, checks).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vornex {

// A PNG of 8-bit RGB rows, top row first (width * height * 3 bytes), with stored (uncompressed)
// deflate blocks: no compression library is needed, and any PNG reader takes it.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb);

// Copies the window's client area with its controls into a bitmap and writes it as a PNG; false
// with the reason otherwise.
bool SaveWindowPicture(HWND window, const std::string& path, std::string* error);

}  // namespace vornex
