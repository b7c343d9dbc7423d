// The Windows window's texts from its resources, its title and its About box.
#pragma once

#include <windows.h>

#include <string>

namespace vornex {

// A string of the program's resources; empty when it has none of that id.
std::wstring ResourceText(UINT id);

// The window's title: the product text followed directly by "(D)".
std::wstring WindowTitle();

// The About box, modal to `owner`.
void ShowAboutBox(HWND owner);

}  // namespace vornex
