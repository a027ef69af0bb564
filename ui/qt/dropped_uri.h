// The items of a drop, read from its address list exactly as the drag source
// sent it. File managers percent-encode a file's raw name, whatever its
// encoding (GIO: `caf%E9.txt` for a Latin-1 name), so a local file's name
// is the exact bytes its address encodes: never a near match.
#pragma once

#include <string_view>
#include <vector>

#include "ui/qt/conversion_worker.h"

class QMimeData;

namespace kestrune::qt {

// One address. A local file is a `file:` address with an empty host or
// `localhost` and an absolute path that decodes to exact bytes. Anything
// else is not local and keeps its path part, which tells its direction.
DroppedItem item_from_uri(std::string_view uri);

// The addresses of a `text/uri-list` (RFC 2483), in order: one a line,
// CRLF or LF, blank lines and comments skipped.
std::vector<DroppedItem> items_from_uri_list(std::string_view list);

// The drop's `text/uri-list` (which also carries Qt's own URL list), in order.
std::vector<DroppedItem> dropped_items(const QMimeData& data);

}  // namespace kestrune::qt
