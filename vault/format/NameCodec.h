// Entry names between the program's UTF-8 and the bytes the vault stores:
// the ANSI code page's bytes when they carry a name exactly, else UTF-8
// marked with general-purpose flag bit 11; and the UTF-8 text helpers that
// name comparisons need (validity, a simple case fold).
#pragma once

#include <cstdint>
#include <string>

namespace vault {

constexpr uint16_t kNameUtf8Flag = 0x0800;  // general-purpose flag bit 11

struct StoredName {
    std::string bytes;
    bool utf8 = false;
};

// ANSI bytes when the name round-trips exactly in the name code page, else
// UTF-8 with the flag. Invalid UTF-8 in the input becomes U+FFFD (callers
// that must not change a name check IsValidUtf8 first). With code page
// 65001 every name that is not plain ASCII is stored with the flag, so that
// other systems read it right.
StoredName EncodeEntryName(const std::string& utf8Name);
// To UTF-8; bytes that do not convert become U+FFFD.
std::string DecodeEntryName(const std::string& bytes, bool utf8);
// The same, telling whether every byte converted.
bool DecodeEntryNameExactly(const std::string& bytes, bool utf8, std::string* out);

// The code page of names stored without the flag. Windows: GetACP() by
// default; elsewhere 1252. 0 puts the default back.
void SetNameCodePage(unsigned codePage);
unsigned NameCodePage();
// True when this system can convert names of that code page.
bool IsNameCodePageSupported(unsigned codePage);

// ---------------------------------------------------------------------------
// UTF-8 text.

bool IsValidUtf8(const std::string& text);
// Every invalid sequence replaced by U+FFFD.
std::string RepairUtf8(const std::string& text);
// Upper case through a simple one-to-one fold of ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic; every other character, and every byte
// that is not valid UTF-8, stays as it is. A folded character keeps its
// byte length, so folded texts line up byte for byte with the originals.
std::string UpperCaseUtf8(const std::string& text);
// The code point's upper-case partner under that fold (itself when none).
uint32_t UpperCaseCodePoint(uint32_t c);

}  // namespace vault
