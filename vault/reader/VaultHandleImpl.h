// The vault handle behind the opaque VaultHandle of VaultApi.h: a kind and
// the reader or writer it owns. Shared by the reader and writer sources.
#pragma once

#include <memory>

#include "vault/VaultApi.h"

namespace vault {
class VaultReader;
class VaultWriter;
}  // namespace vault

constexpr int kHandleKindReader = 1;
constexpr int kHandleKindWriter = 2;

struct VaultHandle {
    int kind = 0;
    std::unique_ptr<vault::VaultReader> reader;
    std::unique_ptr<vault::VaultWriter> writer;

    VaultHandle();
    ~VaultHandle();  // defined where both classes are complete
};

namespace vault {
// Text of a result code from the shared table ("unknown zip result code" for
// codes not in it), and the copy-out rule of FormatVaultResult.
const char* ResultText(uint32_t code);
int CopyResultText(uint32_t code, char* buffer, int length);

// Called by the writer before each header and data write.
void PumpVaultMessages();
}  // namespace vault
