// UTF-8 <-> UTF-16 conversion for the Windows side: the one place where a
// name or path crosses between the program's UTF-8 strings and the wide
// strings of the W functions. Declared on Windows builds only.
#pragma once

#ifdef _WIN32
#include <string>

namespace fileio {

// UTF-8 to UTF-16. Invalid UTF-8 sequences become U+FFFD.
std::wstring Widen(const std::string& utf8);
std::wstring Widen(const char* utf8);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Narrow(const std::wstring& wide);
std::string Narrow(const wchar_t* wide);

}  // namespace fileio
#endif
