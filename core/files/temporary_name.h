// The name of a temporary output, the same on every platform: hidden (a
// leading dot), recognisable as Kestrune's, beside its target, and fresh
// for each attempt. Platforms differ only in their random source and in
// the string type of their names (UTF-8 bytes, UTF-16 units).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrune {

// Random bytes per name: nobody can guess the next name from those seen.
inline constexpr std::size_t kTemporaryTagBytes = 8;
using TemporaryTagBytes = std::array<std::uint8_t, kTemporaryTagBytes>;

// Fills `tag` from the system's random source; each platform's file system
// defines it.
std::error_code random_tag(TemporaryTagBytes& tag);

// Characters a temporary's name adds to its stem: ".", ".kestrune-", the
// tag and ".tmp".
inline constexpr std::size_t kTemporaryNameOverhead = 1 + 10 + kTemporaryTagBytes + 4;

// The longest stem taken from the target's name, so the whole name stays
// well inside the 255 units most file systems allow.
inline constexpr std::size_t kLongestTemporaryStem = 160;

// The longest stem that fits a folder whose names may hold `name_max` units.
constexpr std::size_t temporary_stem_limit(std::size_t name_max) {
  const std::size_t fits =
      name_max > kTemporaryNameOverhead ? name_max - kTemporaryNameOverhead : 0;
  return fits < kLongestTemporaryStem ? fits : kLongestTemporaryStem;
}

// True for a unit that continues a character begun before it: a UTF-8
// continuation byte, or the low half of a UTF-16 surrogate pair.
constexpr bool continues_character(char unit) {
  return (static_cast<unsigned char>(unit) & 0xC0) == 0x80;
}
constexpr bool continues_character(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// ".<stem>.kestrune-<tag>.tmp", the stem being the target's name cut to
// `stem_limit` units at a character boundary, so file managers still show
// it readably.
template <typename Char>
std::basic_string<Char> hidden_temporary_name(std::basic_string_view<Char> target_name,
                                              const TemporaryTagBytes& tag,
                                              std::size_t stem_limit) {
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::size_t stem_length = target_name.size() < stem_limit ? target_name.size() : stem_limit;
  while (stem_length > 0 && stem_length < target_name.size() &&
         continues_character(target_name[stem_length]))
    --stem_length;
  std::basic_string<Char> name(1, Char('.'));
  name += target_name.substr(0, stem_length);
  for (const char c : std::string_view(".kestrune-")) name += Char(c);
  for (const std::uint8_t byte : tag) name += Char(kDigits[byte % kDigits.size()]);
  for (const char c : std::string_view(".tmp")) name += Char(c);
  return name;
}

// Whether a file's name is one hidden_temporary_name gives: what an
// interrupted run leaves, which is never anyone's file to convert.
template <typename Char>
bool is_hidden_temporary_name(std::basic_string_view<Char> name) {
  constexpr std::string_view kInfix = ".kestrune-";
  constexpr std::string_view kEnd = ".tmp";
  if (name.size() < kTemporaryNameOverhead || name[0] != Char('.')) return false;
  const std::size_t tag_start = name.size() - kEnd.size() - kTemporaryTagBytes;
  const auto matches = [name](std::size_t start, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
      if (name[start + i] != Char(text[i])) return false;
    return true;
  };
  for (std::size_t i = tag_start; i < tag_start + kTemporaryTagBytes; ++i)
    if (!((name[i] >= Char('0') && name[i] <= Char('9')) ||
          (name[i] >= Char('a') && name[i] <= Char('z'))))
      return false;
  return matches(tag_start - kInfix.size(), kInfix) && matches(name.size() - kEnd.size(), kEnd);
}

// Names that are taken are passed over this many times before giving up:
// with random tags, a clash even once means someone is guessing them.
inline constexpr int kTemporaryNameAttempts = 100;

// Creates a temporary beside `target_name` under a fresh hidden name:
// `create(name, taken)` makes the file, or sets `taken` when the name
// already exists, and another name is tried.
template <typename Char, typename Create>
std::error_code create_under_fresh_name(std::basic_string_view<Char> target_name,
                                        std::size_t stem_limit, Create&& create) {
  TemporaryTagBytes tag;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    if (auto error = random_tag(tag)) return error;
    bool taken = false;
    const std::error_code error =
        create(hidden_temporary_name<Char>(target_name, tag, stem_limit), taken);
    if (!taken) return error;
  }
  return std::make_error_code(std::errc::file_exists);
}

// A target name that cannot become a file: none at all, or one naming a
// folder.
template <typename Char>
bool names_no_file(std::basic_string_view<Char> name) {
  const bool only_dots = name.find_first_not_of(Char('.')) == std::basic_string_view<Char>::npos;
  return name.empty() || (only_dots && name.size() <= 2);
}

}  // namespace kestrune
