// The system ANSI code page: what single-byte strings from the cache mean.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The ANSI code page as Wine would pick it for the user's locale: LC_ALL, then LC_CTYPE,
// then LANG (for example "ja_JP.UTF-8" gives 932, "ru_RU" 1251); 1252 when none is set
// or the language is not one with a code page of its own.
unsigned AnsiCodePageForLocale(std::string_view localeName);
unsigned GetACP();
// Tests and callers that know better may fix the code page (0 returns to the locale's).
void SetAnsiCodePage(unsigned codePage);

// Decode bytes of the ANSI code page to UTF-8. Bytes that do not decode become U+FFFD.
std::string AnsiToUtf8(std::string_view bytes);
// Encode UTF-8 into the ANSI code page; characters it cannot hold become '?'.
std::string Utf8ToAnsi(std::string_view text);

} // namespace platform
