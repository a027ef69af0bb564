#include "ui/win32/drop.h"

#include <array>

#include "core/secret_memory.h"

namespace kestrune::win32 {

SecretU16String read_password_field(HWND dialog, int field_id) {
  std::array<wchar_t, 260> buffer{};
  const UINT length = GetDlgItemTextW(dialog, field_id, buffer.data(), buffer.size());
  SecretU16String password;
  // Never the string's inline buffer, which nothing would wipe.
  password.reserve(buffer.size());
  password.assign(buffer.data(), buffer.data() + length);
  secure_wipe(buffer.data(), sizeof(buffer));
  return password;
}

std::vector<std::filesystem::path> dropped_paths(HDROP drop) {
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<std::filesystem::path> paths;
  paths.reserve(count);
  for (UINT index = 0; index < count; ++index) {
    // Asked for its length first, so no path is ever cut short.
    const UINT length = DragQueryFileW(drop, index, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    path.resize(DragQueryFileW(drop, index, path.data(), length + 1));
    paths.emplace_back(std::move(path));
  }
  return paths;
}

}  // namespace kestrune::win32
