// Code page conversions through MultiByteToWideChar / WideCharToMultiByte;
// the default code page for names is the system's ANSI code page.
#include "vault/format/CodePage.h"

#include <windows.h>

#include "vault/fileio/WideText.h"

namespace vault {
namespace codepage {

namespace {

// Bytes to UTF-16 with every invalid byte refused; false when some are.
bool ToWide(unsigned codePage, const char* bytes, int length, std::wstring* wide) {
    wide->clear();
    if (length == 0) return true;
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
    if (n <= 0) return false;
    wide->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, &(*wide)[0], n) == n;
}

}  // namespace

unsigned DefaultCodePage() { return GetACP(); }

bool Supported(unsigned codePage) { return IsValidCodePage(codePage) != 0; }

bool FromUtf8(unsigned codePage, const std::string& utf8, std::string* bytes) {
    bytes->clear();
    const std::wstring wide = fileio::Widen(utf8);
    if (wide.empty()) return utf8.empty();
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    bytes->resize(static_cast<size_t>(n));
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &(*bytes)[0],
                        n, nullptr, &usedDefault);
    if (usedDefault) return false;
    // Only an exact round trip counts.
    std::wstring back;
    return ToWide(codePage, bytes->data(), n, &back) && back == wide;
}

bool ToUtf8(unsigned codePage, const std::string& bytes, std::string* utf8) {
    std::wstring wide;
    if (ToWide(codePage, bytes.data(), static_cast<int>(bytes.size()), &wide)) {
        *utf8 = fileio::Narrow(wide);
        return true;
    }
    // Character by character: a lead byte with its trail, else one byte;
    // what does not convert becomes U+FFFD.
    std::wstring out;
    bool exact = true;
    for (size_t i = 0; i < bytes.size();) {
        std::wstring piece;
        const bool lead = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) != 0;
        if (lead && i + 1 < bytes.size() && ToWide(codePage, bytes.data() + i, 2, &piece)) {
            out += piece;
            i += 2;
        } else if (!lead && ToWide(codePage, bytes.data() + i, 1, &piece)) {
            out += piece;
            i += 1;
        } else {
            out += L'\xFFFD';
            exact = false;
            i += 1;
        }
    }
    *utf8 = fileio::Narrow(out);
    return exact;
}

}  // namespace codepage
}  // namespace vault
