#include "ui/qt/dropped_uri.h"

#include <QMimeData>
#include <cctype>
#include <optional>
#include <string>

namespace kestrune::qt {
namespace {

constexpr std::string_view kUriListType = "text/uri-list";

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::optional<int> hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

// The exact bytes of a path part; none when an escape is malformed or the
// part holds what no local name can (a NUL, a control character) or what
// would make it mean less than it says (a query or fragment mark).
std::optional<std::string> decode_exactly(std::string_view part) {
  std::string bytes;
  for (std::size_t i = 0; i < part.size(); ++i) {
    const auto c = static_cast<unsigned char>(part[i]);
    if (c < 0x20 || c == 0x7f || c == '?' || c == '#') return std::nullopt;
    if (c != '%') {
      bytes += static_cast<char>(c);
      continue;
    }
    if (i + 2 >= part.size()) return std::nullopt;
    const auto high = hex_digit(part[i + 1]);
    const auto low = hex_digit(part[i + 2]);
    if (!high || !low || (*high == 0 && *low == 0)) return std::nullopt;
    bytes += static_cast<char>(*high * 16 + *low);
    i += 2;
  }
  return bytes;
}

// A name for an item the core is not given: only its direction matters.
DroppedItem not_local(std::string_view path_part) {
  const std::string_view path = path_part.substr(0, path_part.find_first_of("?#"));
  return {std::filesystem::path(decode_exactly(path).value_or(std::string(path))), false};
}

}  // namespace

DroppedItem item_from_uri(std::string_view uri) {
  const std::size_t colon = uri.find(':');
  if (colon == std::string_view::npos) return not_local(uri);
  const std::string_view scheme = uri.substr(0, colon);
  std::string_view rest = uri.substr(colon + 1);
  std::string_view host;
  if (rest.starts_with("//")) {
    const std::size_t path_start = rest.find('/', 2);
    host = rest.substr(2, path_start == std::string_view::npos ? rest.npos : path_start - 2);
    rest = path_start == std::string_view::npos ? std::string_view() : rest.substr(path_start);
  }
  const bool local_host = host.empty() || equals_ignoring_case(host, "localhost");
  if (!equals_ignoring_case(scheme, "file") || !local_host || !rest.starts_with('/'))
    return not_local(rest);
  const std::optional<std::string> path = decode_exactly(rest);
  if (!path) return not_local(rest);
  return {std::filesystem::path(*path), true};
}

std::vector<DroppedItem> items_from_uri_list(std::string_view list) {
  std::vector<DroppedItem> items;
  std::string_view rest = list;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    // Blank lines and comments (RFC 2483) name nothing.
    if (!line.empty() && !line.starts_with('#')) items.push_back(item_from_uri(line));
  }
  return items;
}

std::vector<DroppedItem> dropped_items(const QMimeData& data) {
  const QByteArray list = data.data(QString::fromLatin1(kUriListType.data(), kUriListType.size()));
  return items_from_uri_list({list.constData(), static_cast<std::size_t>(list.size())});
}

}  // namespace kestrune::qt
