#include "ui/win32/user_scope.h"

#include <windows.h>
#include <sddl.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrune::win32 {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct LocalFreeDeleter {
  void operator()(wchar_t* memory) const { LocalFree(memory); }
};

// The user's identifier as text ("S-1-5-21-…"), or empty.
std::wstring current_user_sid() {
  HANDLE raw_token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return {};
  const std::unique_ptr<void, HandleCloser> token(raw_token);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    return {};
  wchar_t* raw_text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &raw_text))
    return {};
  const std::unique_ptr<wchar_t, LocalFreeDeleter> text(raw_text);
  return text.get();
}

}  // namespace

std::wstring user_scoped_name(std::wstring_view base) {
  const std::wstring sid = current_user_sid();
  return sid.empty() ? std::wstring(base) : std::wstring(base) + L"." + sid;
}

}  // namespace kestrune::win32
