#include "ui/qt/command_line_files.h"

#include <unistd.h>

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "ui/qt/dropped_uri.h"

namespace kestrune::qt {
namespace {

// A scheme as RFC 3986 spells it, then a colon.
std::string_view uri_scheme(std::string_view argument) {
  const std::size_t colon = argument.find(':');
  if (colon == 0 || colon == std::string_view::npos) return {};
  const std::string_view scheme = argument.substr(0, colon);
  if (!std::isalpha(static_cast<unsigned char>(scheme[0]))) return {};
  for (const char c : scheme)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return {};
  return scheme;
}

bool is_file_scheme(std::string_view scheme) {
  std::string lower(scheme);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "file";
}

// `notes:v2.txt` typed in a shell is a file, not an address: only `file:`
// and addresses with an authority are taken as addresses.
bool is_address(std::string_view argument) {
  const std::string_view scheme = uri_scheme(argument);
  if (scheme.empty()) return false;
  return is_file_scheme(scheme) || argument.substr(scheme.size() + 1).starts_with("//");
}

}  // namespace

LaunchOrder this_launch_order() {
  LaunchOrder order{0, static_cast<std::uint64_t>(::getpid())};
  std::ifstream stat("/proc/self/stat");
  std::string line;
  if (!std::getline(stat, line)) return order;
  // The name in parentheses may hold spaces; the fields after it do not.
  const std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return order;
  std::istringstream fields(line.substr(name_end + 1));
  // starttime is the 20th field after the name (the 22nd in all).
  std::string field;
  for (int i = 0; i < 20 && fields >> field; ++i) {
  }
  std::uint64_t ticks = 0;
  if (fields && std::from_chars(field.data(), field.data() + field.size(), ticks).ec == std::errc())
    order.start_ticks = ticks;
  return order;
}

DroppedItem command_line_item(std::string_view argument,
                              const std::filesystem::path& working_folder) {
  if (argument.starts_with('/')) return {std::filesystem::path(std::string(argument)), true};
  if (is_address(argument)) return item_from_uri(argument);
  return {working_folder / std::filesystem::path(std::string(argument)), true};
}

std::vector<DroppedItem> command_line_items(std::span<char* const> arguments) {
  std::error_code error;
  // Without a working folder (it was removed) the name stays relative and
  // fails to open like any missing file.
  const std::filesystem::path working_folder = std::filesystem::current_path(error);
  std::vector<DroppedItem> items;
  for (const char* argument : arguments.subspan(arguments.empty() ? 0 : 1))
    items.push_back(command_line_item(argument, working_folder));
  return items;
}

}  // namespace kestrune::qt
