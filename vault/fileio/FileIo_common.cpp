// Platform-neutral parts of the file layer.
#include "vault/fileio/FileIo.h"

#include <utility>

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        m_path = std::move(other.m_path);
        other.m_handle = kInvalid;
    }
    return *this;
}

CFile CFile::Adopt(intptr_t native) {
    CFile f;
    f.m_handle = native;
    return f;
}

bool CFile::ReadAt(uint64_t pos, void* buffer, size_t len) {
    size_t got = 0;
    return Seek(pos) && Read(buffer, len, &got) && got == len;
}

namespace fileio {

namespace {
WriteHook& Hook() {
    static WriteHook hook;
    return hook;
}
}  // namespace

void SetWriteHook(WriteHook hook) { Hook() = std::move(hook); }

namespace {
ReadHook& TheReadHook() {
    static ReadHook hook;
    return hook;
}
}  // namespace

void SetReadHook(ReadHook hook) { TheReadHook() = std::move(hook); }

// Used by both platform sides before each read.
bool ReadAllowed(const std::string& path, size_t bytes) {
    ReadHook& hook = TheReadHook();
    return !hook || hook(path, bytes);
}

namespace {
IoObserver* g_observer = nullptr;
}  // namespace

void SetIoObserver(IoObserver* observer) { g_observer = observer; }
IoObserver* CurrentIoObserver() { return g_observer; }

namespace {
bool g_flushToDisk = true;
}  // namespace

void SetFlushToDisk(bool on) { g_flushToDisk = on; }
bool FlushToDisk() { return g_flushToDisk; }

bool TestHooksInstalled() { return g_observer != nullptr || static_cast<bool>(Hook()); }

// Used by both platform sides before each write.
bool WriteAllowed(size_t bytes) {
    WriteHook& hook = Hook();
    return !hook || hook(bytes);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool MakeDirectoryChain(const std::string& path) {
    if (path.empty()) return false;
    // Walk every prefix that ends before a separator, then the whole path.
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') start = 2;          // drive letter
    while (start < path.size() && IsSeparator(path[start])) ++start;  // root
    for (size_t i = start; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            if (i == 0 || IsSeparator(path[i - 1])) continue;
            std::string prefix = path.substr(0, i);
            if (!IsDirectory(prefix) && !MakeDirectory(prefix)) return false;
        }
    }
    return IsDirectory(path);
}

}  // namespace fileio
