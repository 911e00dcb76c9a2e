// Opened copies against their entries, and putting a changed copy back.
#include "document/CopyPutBack.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultScan.h"

bool ReadEntryStamp(const std::string& vaultPath, const std::string& storedPath, EntryStamp* out) {
    const std::string want = ToSlashes(storedPath);
    CFile file;
    vault::DirectoryInfo dir;
    std::vector<vault::CentralEntry> records;
    if (!file.Open(vaultPath, CFile::Mode::Read) || vault::LocateDirectory(file, &dir) != vault::VaultStatus::Ok ||
        vault::ReadCentralDirectory(file, dir, &records) != vault::VaultStatus::Ok)
        return false;
    for (const vault::CentralEntry& r : records) {
        if (r.name != want || (!r.name.empty() && r.name.back() == '/')) continue;
        out->storedPath = r.name;
        out->size = r.header.uncompressedSize;
        out->crc = r.header.crc;
        return true;
    }
    return false;
}

bool ReadFileStamp(const std::string& path, uint32_t* size, uint32_t* crc) {
    CFile file;
    uint64_t length = 0;
    if (!file.Open(path, CFile::Mode::Read) || !file.Size(&length) || length > UINT32_MAX) return false;
    std::vector<uint8_t> buffer(1 << 20);
    uLong c = crc32(0L, Z_NULL, 0);
    for (uint64_t at = 0; at < length;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - at));
        if (!file.ReadAt(at, buffer.data(), n)) return false;
        c = crc32(c, buffer.data(), static_cast<uInt>(n));
        at += n;
    }
    *size = static_cast<uint32_t>(length);
    *crc = static_cast<uint32_t>(c);
    return true;
}

CopyState CompareOpenedCopy(const std::string& vaultPath, const EntryStamp& base, const std::string& copyPath) {
    uint32_t size = 0, crc = 0;
    if (!ReadFileStamp(copyPath, &size, &crc)) return CopyState::CopyUnreadable;
    if (size == base.size && crc == base.crc) return CopyState::Unchanged;
    return EntryStateSince(vaultPath, base);
}

CopyState EntryStateSince(const std::string& vaultPath, const EntryStamp& base) {
    EntryStamp now;
    if (!ReadEntryStamp(vaultPath, base.storedPath, &now)) return CopyState::EntryGone;
    return now.size == base.size && now.crc == base.crc ? CopyState::Changed : CopyState::EntryChanged;
}

namespace {

// The vault holds the copy's content under storedPath.
bool HoldsCopy(const std::string& vaultPath, const std::string& storedPath, const std::string& copyPath,
               EntryStamp* now) {
    uint32_t size = 0, crc = 0;
    EntryStamp stamp;
    if (!ReadFileStamp(copyPath, &size, &crc) || !ReadEntryStamp(vaultPath, storedPath, &stamp) ||
        stamp.size != size || stamp.crc != crc)
        return false;
    if (now) *now = stamp;
    return true;
}

}  // namespace

PutBackResult PutBackCopy(CVaultModel& model, const AddBatchHooks& hooks, const std::string& storedPath,
                          const std::string& copyPath, EntryStamp* now) {
    const std::string stored = ToSlashes(storedPath);
    VaultEntry entry;
    if (!model.GetEntry(stored, &entry) || entry.IsFolder()) return PutBackResult::Failed;
    {
        CAddBatch batch(model, hooks, false);
        model.MarkEntry(stored, 0, copyPath);
        batch.UpdateMarkedEntries();
        batch.Finish();
    }
    return HoldsCopy(model.VaultPath(), stored, copyPath, now) ? PutBackResult::Replaced : PutBackResult::Failed;
}

PutBackResult AddCopyAs(CVaultModel& model, const std::string& storedPath, const std::string& copyPath,
                        EntryStamp* now) {
    const std::string stored = ToSlashes(storedPath);
    if (model.FindEntry(stored)) return PutBackResult::Taken;
    CVaultModel::AddResult added;
    CVaultModel::WriteBatch batch(model);
    model.MakeVaultFolder();
    if (model.AddToVault(stored, copyPath, kVaultSourcePath, &added) != kVaultOk) return PutBackResult::Failed;
    FileInfo info;
    FileTime modified = fileio::CurrentTime(), accessed = modified, created = modified;
    if (fileio::GetInfo(copyPath, &info)) {
        modified = info.writeTime;
        accessed = info.accessTime;
        created = info.creationTime;
    }
    model.AppendEntry(stored, added.attributes, added.localOffset, added.packedSize, added.size, modified, accessed,
                      created);
    return HoldsCopy(model.VaultPath(), stored, copyPath, now) ? PutBackResult::Added : PutBackResult::Failed;
}
