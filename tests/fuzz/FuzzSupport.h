// What the libFuzzer targets share: scratch files of their own in the
// temporary folder, and the check that a result code is one the vault API
// documents (anything else is a finding).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"

namespace hbfuzz {

// A file below the temporary folder named after this process and tag,
// removed at exit.
inline const std::string& ScratchFile(const char* tag) {
    struct Scratch {
        std::string path;
        ~Scratch() { fileio::Remove(path); }
    };
    static Scratch* files[8] = {};
    static const char* tags[8] = {};
    for (int i = 0; i < 8; ++i) {
        if (tags[i] && std::string(tags[i]) == tag) return files[i]->path;
        if (!tags[i]) {
            tags[i] = tag;
            static Scratch storage[8];
            storage[i].path = fileio::TempFolder() + "hb_fuzz_" + std::to_string(::getpid()) + "." + tag;
            files[i] = &storage[i];
            return files[i]->path;
        }
    }
    std::abort();
}

inline void WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    CFile f;
    if (!f.Open(path, CFile::Mode::CreateWrite)) std::abort();
    if (size && !f.Write(data, size)) std::abort();
}

// The result codes of the shared table.
inline bool IsDocumentedResult(uint32_t rc) {
    switch (rc) {
        case kVaultOk: case kVaultNoDuplicate: case kVaultNoFile: case kVaultNoMemory:
        case kVaultWriteError: case kVaultNotFound: case kVaultMoreData: case kVaultCorrupt:
        case kVaultReadError: case kVaultBadArguments: case kVaultNotMemory: case kVaultMemorySize:
        case kVaultPreviousError: case kVaultEnded: case kVaultWrongSize: case kVaultPartlyUnpacked:
        case kVaultWrongKind: case kVaultTooLarge: case kVaultNotInitialised: case kVaultSeekError:
        case kVaultChangedMind: case kVaultFlateError:
            return true;
        default:
            return false;
    }
}

// Aborts (a finding) on a code outside the table or outside what the call
// may answer.
inline uint32_t Expect(uint32_t rc, const char* call, std::initializer_list<uint32_t> allowed) {
    bool ok = false;
    for (uint32_t a : allowed) ok = ok || a == rc;
    if (!IsDocumentedResult(rc) || !ok) {
        std::fprintf(stderr, "%s returned 0x%X, which it may not\n", call, rc);
        std::abort();
    }
    return rc;
}

}  // namespace hbfuzz
