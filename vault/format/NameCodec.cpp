// The entry name codec and the UTF-8 helpers behind name comparisons.
#include "vault/format/NameCodec.h"

#include <atomic>

#include "vault/format/CodePage.h"

namespace vault {

namespace {

constexpr unsigned kUtf8CodePage = 65001;
constexpr uint32_t kReplacement = 0xFFFD;

std::atomic<unsigned> g_codePage{0};  // 0: the platform's default

bool IsAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Length of the valid UTF-8 sequence at text[i] and its code point, or 0.
size_t Utf8At(const std::string& text, size_t i, uint32_t* cp) {
    const unsigned char b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    size_t n;
    uint32_t c, min;
    if (b0 >= 0xC2 && b0 <= 0xDF) { n = 2; c = b0 & 0x1F; min = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { n = 3; c = b0 & 0x0F; min = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { n = 4; c = b0 & 0x07; min = 0x10000; }
    else return 0;
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return n;
}

void AppendUtf8(std::string* out, uint32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// In a run of upper/lower pairs starting at first (upper on the even or odd
// side as the run's first code point says), the upper partner of c.
bool InPairs(uint32_t c, uint32_t first, uint32_t last, uint32_t* upper) {
    if (c < first || c > last) return false;
    *upper = ((c - first) % 2 == 1) ? c - 1 : c;
    return true;
}

}  // namespace

unsigned NameCodePage() {
    const unsigned cp = g_codePage.load();
    return cp ? cp : codepage::DefaultCodePage();
}

void SetNameCodePage(unsigned codePage) { g_codePage.store(codePage); }

bool IsNameCodePageSupported(unsigned codePage) {
    return codePage == kUtf8CodePage || codepage::Supported(codePage);
}

StoredName EncodeEntryName(const std::string& utf8Name) {
    StoredName out;
    if (IsAscii(utf8Name)) {
        out.bytes = utf8Name;
        return out;
    }
    const std::string name = RepairUtf8(utf8Name);
    const unsigned cp = NameCodePage();
    std::string ansi, back;
    if (cp != kUtf8CodePage && codepage::FromUtf8(cp, name, &ansi) && codepage::ToUtf8(cp, ansi, &back) &&
        back == name) {
        out.bytes = std::move(ansi);
        return out;
    }
    out.bytes = name;
    out.utf8 = true;
    return out;
}

bool DecodeEntryNameExactly(const std::string& bytes, bool utf8, std::string* out) {
    if (IsAscii(bytes)) {
        *out = bytes;
        return true;
    }
    const unsigned cp = NameCodePage();
    if (utf8 || cp == kUtf8CodePage) {
        *out = RepairUtf8(bytes);
        return IsValidUtf8(bytes);
    }
    return codepage::ToUtf8(cp, bytes, out);
}

std::string DecodeEntryName(const std::string& bytes, bool utf8) {
    std::string out;
    DecodeEntryNameExactly(bytes, utf8, &out);
    return out;
}

bool IsValidUtf8(const std::string& text) {
    uint32_t c;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8At(text, i, &c);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string RepairUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    uint32_t c;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8At(text, i, &c);
        if (n == 0) {
            AppendUtf8(&out, kReplacement);
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

uint32_t UpperCaseCodePoint(uint32_t c) {
    uint32_t u;
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    // Latin-1: à..þ but not ÷; ÿ pairs with Ÿ (U+0178).
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    // Latin Extended-A: pairs, with the dotted and dotless i (Turkish
    // casing), kra, ŉ and the long s left alone.
    if (InPairs(c, 0x100, 0x12F, &u) || InPairs(c, 0x132, 0x137, &u) || InPairs(c, 0x139, 0x148, &u) ||
        InPairs(c, 0x14A, 0x177, &u) || InPairs(c, 0x179, 0x17E, &u))
        return u;
    // Greek.
    if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : c - 0x20;  // final sigma: Σ
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    // Cyrillic.
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c == 0x4CF) return 0x4C0;
    if (InPairs(c, 0x460, 0x481, &u) || InPairs(c, 0x48A, 0x4BF, &u) || InPairs(c, 0x4C1, 0x4CE, &u) ||
        InPairs(c, 0x4D0, 0x52F, &u))
        return u;
    return c;
}

std::string UpperCaseUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    uint32_t c;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8At(text, i, &c);
        if (n == 0) {  // not UTF-8: the byte stays
            out.push_back(text[i]);
            ++i;
        } else if (n == 1) {
            out.push_back(static_cast<char>(UpperCaseCodePoint(c)));
            ++i;
        } else {
            AppendUtf8(&out, UpperCaseCodePoint(c));
            i += n;
        }
    }
    return out;
}

}  // namespace vault
