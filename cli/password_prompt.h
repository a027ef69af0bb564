#pragma once

#include <optional>
#include <string>

namespace kestrune {

// Asks for a line on the controlling terminal with echo turned off. Nothing
// when there is no terminal or the input ends first.
std::optional<std::string> prompt_without_echo(const char* prompt);

// The first line of standard input, without its line ending.
std::optional<std::string> read_first_line(std::istream& in);

}  // namespace kestrune
