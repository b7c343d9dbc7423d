// Browse on Windows: the password prompt that guards the choice of the image folder, and the
// system's folder picker.
#pragma once

#include <windows.h>

#include <string>

#include "console/station_core.h"

namespace vornex {

// The password prompt, modal to `owner`. Enter, Escape and Space do nothing in it: it closes
// only through OK, Cancel or the caption's close button.
TPasswordOutcome AskPassword(HWND owner);

// The system's folder picker, starting at the desktop; the chosen folder's file-system path, or
// empty when the operator cancelled or chose a folder without one.
std::wstring ChooseFolder(HWND owner);

}  // namespace vornex
