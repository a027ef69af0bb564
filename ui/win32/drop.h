// What the dialog reads for one drop: the password field and the paths.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/secret_memory.h"

namespace kestrune::win32 {

// The field's text as the platform hands it over: at most its first 259
// characters, on secret pages: wiped when it goes.
SecretU16String read_password_field(HWND dialog, int field_id);

// Every dropped path in the shell's order, each whole however long it is.
std::vector<std::filesystem::path> dropped_paths(HDROP drop);

}  // namespace kestrune::win32
