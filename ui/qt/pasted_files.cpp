#include "ui/qt/pasted_files.h"

#include <QMimeData>
#include <string_view>

#include "ui/qt/dropped_uri.h"

namespace kestrune::qt {
namespace {

constexpr auto kUriListType = "text/uri-list";
constexpr const char* kCopiedFilesTypes[] = {"x-special/gnome-copied-files",
                                             "x-special/mate-copied-files"};

// "copy" or "cut" on the first line, then the addresses.
std::vector<DroppedItem> copied_files(const QByteArray& list) {
  const std::string_view text(list.constData(), static_cast<std::size_t>(list.size()));
  const std::size_t first_line_end = text.find('\n');
  if (first_line_end == std::string_view::npos) return {};
  return items_from_uri_list(text.substr(first_line_end + 1));
}

}  // namespace

bool holds_files(const QMimeData& clipboard) {
  if (clipboard.hasFormat(QString::fromLatin1(kUriListType))) return true;
  for (const char* type : kCopiedFilesTypes)
    if (clipboard.hasFormat(QString::fromLatin1(type))) return true;
  return false;
}

std::vector<DroppedItem> pasted_files(const QMimeData& clipboard) {
  if (clipboard.hasFormat(QString::fromLatin1(kUriListType))) return dropped_items(clipboard);
  for (const char* type : kCopiedFilesTypes)
    if (clipboard.hasFormat(QString::fromLatin1(type)))
      return copied_files(clipboard.data(QString::fromLatin1(type)));
  return {};
}

}  // namespace kestrune::qt
