// Text collation for sorted lists: locale-aware and case-insensitive, like a Windows list.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A byte string whose plain comparison orders texts as the user's locale (LC_COLLATE)
// collates them, ignoring case. Equal keys mean "equal for sorting".
std::string CollationKey(std::string_view utf8);

} // namespace platform
