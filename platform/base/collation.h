// Text collation for sorted lists: locale-aware and case-insensitive, like a Windows list.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// A byte string whose plain comparison orders texts as the user's locale (LC_COLLATE)
// collates them, ignoring case. Equal keys mean "equal for sorting".
std::string CollationKey(std::string_view utf8);

// The bytes of a key: each weight written as UTF-8 writes a character (stretched past 31
// bits), so that bytes compare as the weight sequences do and a name in ASCII keeps a byte a
// character.
std::string WeightBytes(const wchar_t* weights, std::size_t n);

} // namespace platform
