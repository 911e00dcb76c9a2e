// UTF-8 <-> UTF-16 conversion for the Windows side (MultiByteToWideChar and
// WideCharToMultiByte with the UTF-8 code page).
#include "vault/fileio/WideText.h"

#include <windows.h>

namespace fileio {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::wstring Widen(const char* utf8) {
    return utf8 ? Widen(std::string(utf8)) : std::wstring();
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n,
                        nullptr, nullptr);
    return utf8;
}

std::string Narrow(const wchar_t* wide) {
    return wide ? Narrow(std::wstring(wide)) : std::string();
}

}  // namespace fileio
