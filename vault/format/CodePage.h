// Conversions between UTF-8 and a Windows code page, one implementation per
// platform (MultiByteToWideChar / WideCharToMultiByte on Windows, iconv
// elsewhere). Used by the name codec only.
#pragma once

#include <string>

namespace vault {
namespace codepage {

// The platform's default code page for names.
unsigned DefaultCodePage();
bool Supported(unsigned codePage);
// Valid UTF-8 to the code page; false when some character has no exact
// byte form there (no best-fit substitutes).
bool FromUtf8(unsigned codePage, const std::string& utf8, std::string* bytes);
// The code page's bytes to UTF-8; bytes that do not convert become U+FFFD
// and the result is false.
bool ToUtf8(unsigned codePage, const std::string& bytes, std::string* utf8);

}  // namespace codepage
}  // namespace vault
