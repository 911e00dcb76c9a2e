// What a test vault holds, read back through the vault reader, and a vault
// written straight through the writer (names in UTF-8, data from memory).
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

// Writes the entries (name, data; a name ending in '/' is a folder) into a
// new or existing vault; false when the writer refused one.
inline bool WriteVault(const char* vault,
                       const std::vector<std::pair<std::string, std::string>>& entries) {
  VaultHandle* h = OpenVaultWriter(vault, 0, kVaultSourcePath, nullptr);
  if (!h) return false;
  bool ok = true;
  for (const auto& e : entries) {
    const bool folder = !e.first.empty() && e.first.back() == '/';
    std::string name = folder ? e.first.substr(0, e.first.size() - 1) : e.first;
    uint32_t rc = folder ? AddVaultEntry(h, name.c_str(), nullptr, 0, kVaultSourceFolder, nullptr,
                                         nullptr, nullptr, nullptr)
                         : AddVaultEntry(h, name.c_str(), e.second.data(),
                                         static_cast<uint32_t>(e.second.size()),
                                         kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr);
    ok = ok && rc == kVaultOk;
  }
  return CloseVaultHandle(h) == kVaultOk && ok;
}

}  // namespace hbtest
