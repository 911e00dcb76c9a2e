// What a test vault holds, read back through the vault reader.
#pragma once

#include <string>
#include <vector>

#include "vault/VaultApi.h"

namespace hbtest {

// Names the vault reader lists, as stored (empty when it cannot be read).
inline std::vector<std::string> StoredNames(const char* vault) {
  std::vector<std::string> names;
  VaultHandle* h = OpenVaultReader(vault, 0, kVaultSourcePath, nullptr);
  if (!h) return names;
  ZipEntryInfo info;
  int count = ReadEntryInfo(h, -1, &info) == 0 ? info.index : 0;
  for (int i = 0; i < count; ++i) {
    ZipEntryInfo e;
    if (ReadEntryInfo(h, i, &e) == 0) names.push_back(e.name);
  }
  CloseVaultHandle(h);
  return names;
}

}  // namespace hbtest
