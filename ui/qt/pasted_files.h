// Files copied in a file manager and pasted on the dialog. A paste of files
// is a drop of those files; only plain text belongs in the password field,
// where a file's address would silently become part of the password.
#pragma once

#include <vector>

#include "ui/qt/conversion_worker.h"

class QMimeData;

namespace kestrune::qt {

// True when the clipboard holds files in any flavour a file manager puts
// them there: `text/uri-list` (KDE's Dolphin and most others), or
// `x-special/gnome-copied-files` (Nautilus, PCManFM, Thunar) and its MATE
// twin, whose first line says copy or cut.
bool holds_files(const QMimeData& clipboard);

// Those files, in order, decoded exactly as a drop's addresses are. A cut
// is taken as a copy: the dialog never moves anything.
std::vector<DroppedItem> pasted_files(const QMimeData& clipboard);

}  // namespace kestrune::qt
