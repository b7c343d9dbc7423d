// The application icon of the station window and its About box, drawn at run time so that the
// window needs no resource files.
#pragma once

#include <QIcon>

namespace vornex {

// The icon in the usual sizes (16 to 64 px).
QIcon AppIcon();

}  // namespace vornex
