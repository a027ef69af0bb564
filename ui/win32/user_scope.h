// Names that only the current user's processes share.
#pragma once

#include <string>
#include <string_view>

namespace kestrune::win32 {

// `base` followed by the user's security identifier, so that another user
// in the same session (run as) never reaches this user's dialog; `base`
// alone when the identifier cannot be read.
std::wstring user_scoped_name(std::wstring_view base);

}  // namespace kestrune::win32
