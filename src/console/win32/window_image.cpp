// The window picture: the window's pixels in a 24-bit bitmap, then a PNG of stored deflate blocks.
#include "console/win32/window_image.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/os_file.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

// The largest stored deflate block.
constexpr std::size_t kStoredBlock = 65535;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type,
              const std::vector<std::uint8_t>& data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  // Every row starts with filter type 0 (none).
  std::vector<std::uint8_t> raw;
  raw.reserve((rowBytes + 1) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    const auto row =
        rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * static_cast<std::size_t>(y));
    raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
  }
  std::vector<std::uint8_t> zlib{0x78, 0x01};
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min(kStoredBlock, raw.size() - offset);
    const bool last = offset + length == raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back(static_cast<std::uint8_t>(length & 0xFF));
    zlib.push_back(static_cast<std::uint8_t>(length >> 8));
    zlib.push_back(static_cast<std::uint8_t>(~length & 0xFF));
    zlib.push_back(static_cast<std::uint8_t>((~length >> 8) & 0xFF));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
    offset += length;
  } while (offset < raw.size());
  PutBig32(zlib, (b << 16) | a);

  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(width));
  PutBig32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", {});
  return png;
}

bool SaveWindowPicture(HWND window, const std::string& path, std::string* error) {
  RECT frame{};
  if (!::GetClientRect(window, &frame)) {
    *error = "cannot take a picture of the window: " +
             os::SystemErrorText(static_cast<int>(::GetLastError()));
    return false;
  }
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ::ReleaseDC(nullptr, screen);
  if (memory == nullptr || bitmap == nullptr) {
    if (memory != nullptr) ::DeleteDC(memory);
    *error = "cannot take a picture of the window: no bitmap of " + std::to_string(width) + "x" +
             std::to_string(height);
    return false;
  }
  HGDIOBJ previous = ::SelectObject(memory, bitmap);
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  // What the window's client area shows, controls included, copied from the window's own
  // surface (a PrintWindow leaves the controls out on some systems, as they draw themselves; the
  // frame belongs to the window manager or the compositor, which a window DC does not see).
  HDC shown = ::GetDC(window);
  const bool drawn =
      shown != nullptr && ::BitBlt(memory, 0, 0, width, height, shown, 0, 0, SRCCOPY | CAPTUREBLT);
  if (shown != nullptr) ::ReleaseDC(window, shown);
  ::GdiFlush();
  // 24-bit DIB rows are BGR, padded to four bytes.
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3 *
                                static_cast<std::size_t>(height));
  const auto* source = static_cast<const std::uint8_t*>(bits);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* pixel =
          source + stride * static_cast<std::size_t>(y) + 3 * static_cast<std::size_t>(x);
      std::uint8_t* out =
          rgb.data() + 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x));
      out[0] = pixel[2];
      out[1] = pixel[1];
      out[2] = pixel[0];
    }
  }
  ::SelectObject(memory, previous);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  if (!drawn) {
    *error = "cannot take a picture of the window: " +
             os::SystemErrorText(static_cast<int>(::GetLastError()));
    return false;
  }
  const std::vector<std::uint8_t> png = EncodePng(width, height, rgb);
  FILE* file = ::_wfopen(win32::Wide(path).c_str(), L"wb");
  if (file == nullptr) {
    *error = "cannot write the picture " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    *error = "cannot write the picture " + path;
    return false;
  }
  return true;
}

}  // namespace vornex
