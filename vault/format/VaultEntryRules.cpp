#include "vault/format/VaultEntryRules.h"

#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"

namespace vault {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return i == a.size() && b[i] == '\0';
}

constexpr uint16_t kProgramMagic = 0x54AD;
constexpr size_t kProgramMinLength = 40;
constexpr size_t kProgramHeaderOffset = 36;

bool ProgramSignature(uint32_t v) {
    return v == 0x5A4D || v == 0x454E || v == 0x454C || v == 0x4550;
}

}  // namespace

std::string NormalizeEntryName(const std::string& name, bool isFolder) {
    std::string out = name;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    if (isFolder && (out.empty() || out.back() != '/')) out += '/';
    return out;
}

bool HasStoredExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string ext = name.substr(dot);
    static const char* const kStored[] = {".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};
    for (const char* s : kStored) {
        if (EqualsNoCase(ext, s)) return true;
    }
    return false;
}

uint16_t ChooseMethod(const std::string& name, bool isFolder) {
    return (isFolder || HasStoredExtension(name)) ? kMethodStored : kMethodDeflate;
}

uint32_t BuildExternalAttributes(uint32_t windowsAttributes, bool isDirectory, bool isProgram) {
    uint32_t e = windowsAttributes & kExternalWindowsMask;
    e |= isDirectory ? kExternalUnixFolder : kExternalUnixFile;
    e |= kExternalOwnerRead;
    if (!(windowsAttributes & kAttrReadOnly)) e |= kExternalOwnerWrite;
    if (isProgram) e |= kExternalOwnerExecute;
    return e;
}

uint32_t WindowsAttributesFromExternal(uint32_t e) {
    uint32_t a = kAttrNormal;
    if ((e & kExternalUnixFolder) || (e & kAttrDirectory)) a = kAttrNormal | kAttrDirectory;
    if (e & kAttrArchive) a |= kAttrArchive;
    if (e & kAttrHidden) a |= kAttrHidden;
    if ((e & kAttrReadOnly) || !(e & kExternalOwnerWrite)) a |= kAttrReadOnly;
    if (e & kAttrSystem) a |= kAttrSystem;
    return a;
}

bool LooksLikeProgram(const uint8_t* head, size_t headSize, uint64_t fileLength) {
    if (!head || fileLength <= kProgramMinLength) return false;
    if (headSize < kProgramHeaderOffset + 2) return false;
    if (GetU16(head) != kProgramMagic) return false;
    const uint64_t h = GetU16(head + kProgramHeaderOffset);
    if (h + 52 >= fileLength) return false;
    if (h + 4 > headSize) return false;
    return ProgramSignature(GetU32(head + h));
}

bool IsProgramFile(CFile& file, uint64_t fileLength) {
    if (fileLength <= kProgramMinLength) return false;
    uint8_t head[kProgramHeaderOffset + 2];
    if (!file.ReadAt(0, head, sizeof head)) return false;
    if (GetU16(head) != kProgramMagic) return false;
    const uint64_t h = GetU16(head + kProgramHeaderOffset);
    if (h + 52 >= fileLength) return false;
    uint8_t sig[4];
    if (!file.ReadAt(h, sig, sizeof sig)) return false;
    return ProgramSignature(GetU32(sig));
}

}  // namespace vault
