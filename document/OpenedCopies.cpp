// Copies opened with their program: made new in their own folder, wiped
// before they go.
#include "document/OpenedCopies.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "document/EntryReader.h"
#include "document/VaultModel.h"
#include "vault/fileio/FileIo.h"
#include "vault/fileio/FolderList.h"

namespace {

const char kCopiesFolder[] = "hbopened";
const char kKeptFolder[] = "Kept";

// Characters no file name may hold become '_'.
std::string SafeFileName(std::string name) {
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::string("<>:\"|?*/\\").find(c) != std::string::npos) c = '_';
    }
    return name;
}

// The extension of the entry's leaf name (the whole leaf when it has no
// dot), made safe for a file name.
std::string SafeExtension(const std::string& entryPath) {
    std::string ext = SafeFileName(ExtensionOf(LastComponent(entryPath)));
    while (!ext.empty() && (ext.back() == '.' || ext.back() == ' ')) ext.pop_back();
    return ext.empty() ? "dat" : ext;
}

}  // namespace

std::string OpenedCopiesFolder(const std::string& tempFolder) {
    return tempFolder + kCopiesFolder + fileio::Separator();
}

bool ExtractToTemp(const std::string& vaultPath, const std::string& entryPath,
                   const std::string& folder, std::string* copyPath) {
    CEntryReader reader;
    if (!reader.Open(vaultPath, entryPath) || !reader.Found()) return false;
    fileio::MakeDirectoryChain(folder);
    const std::string ext = SafeExtension(entryPath);
    CFile out;
    std::string path;
    uint32_t number = fileio::TickCount();
    for (int attempt = 0; attempt < 1000 && !out.IsOpen(); ++attempt, ++number) {
        char name[32];
        std::snprintf(name, sizeof name, "qv%u.", static_cast<unsigned>(number));
        path = folder + name + ext;
        if (out.Open(path, CFile::Mode::CreateNew)) break;
        if (!fileio::Exists(path)) return false;  // not a name clash: the folder refuses
    }
    if (!out.IsOpen()) return false;

    std::vector<uint8_t> buffer(64 * 1024);
    bool ok = true;
    for (;;) {
        const long n = reader.Read(buffer.data(), buffer.size());
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!out.Write(buffer.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    out.SetTimes(reader.Created(), reader.Accessed(), reader.Modified());
    out.Close();
    if (!ok) {
        WipeAndRemove(path);
        return false;
    }
    *copyPath = path;
    return true;
}

bool WipeAndRemove(const std::string& path) {
    fileio::SetAttributes(path, kAttrNormal);
    {
        CFile f;
        uint64_t size = 0;
        if (f.Open(path, CFile::Mode::ReadWriteExisting) && f.Size(&size)) {
            std::vector<uint8_t> zeros(static_cast<size_t>(std::min<uint64_t>(size, 64 * 1024)));
            bool ok = f.Seek(0);
            for (uint64_t left = size; ok && left > 0;) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(left, zeros.size()));
                ok = f.Write(zeros.data(), n);
                left -= n;
            }
            f.Flush();
        }
    }
    return fileio::Remove(path) || !fileio::Exists(path);
}

size_t SweepOpenedCopies(const std::string& folder, const std::vector<std::string>& keep) {
    size_t removed = 0;
    for (const std::string& name : fileio::ListFiles(folder)) {
        const std::string path = folder + name;
        if (std::find(keep.begin(), keep.end(), path) != keep.end()) continue;
        if (WipeAndRemove(path)) ++removed;
    }
    return removed;
}

std::string KeptCopiesFolder(const std::string& openedFolder) {
    return openedFolder + kKeptFolder + fileio::Separator();
}

std::string KeepCopy(const std::string& copyPath, const std::string& openedFolder, const std::string& leafName) {
    const std::string kept = KeptCopiesFolder(openedFolder);
    if (!fileio::MakeDirectoryChain(kept)) return std::string();
    std::string leaf = SafeFileName(leafName);
    if (leaf.empty()) leaf = "file";
    const size_t dot = leaf.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? leaf : leaf.substr(0, dot);
    const std::string ext = stem.size() == leaf.size() ? std::string() : leaf.substr(dot);
    std::string target = kept + leaf;
    for (int n = 2; fileio::Exists(target) && n < 10000; ++n)
        target = kept + stem + " (" + std::to_string(n) + ")" + ext;
    if (fileio::Exists(target)) return std::string();
    if (fileio::Rename(copyPath, target)) return target;
    // A program holding the copy may refuse the move but let it be read.
    CFile in, out;
    uint64_t size = 0;
    if (!in.Open(copyPath, CFile::Mode::Read) || !in.Size(&size) || !out.Open(target, CFile::Mode::CreateNew))
        return std::string();
    std::vector<uint8_t> buffer(1 << 20);
    bool ok = true;
    for (uint64_t at = 0; ok && at < size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - at));
        ok = in.ReadAt(at, buffer.data(), n) && out.Write(buffer.data(), n);
        at += n;
    }
    ok = out.Flush() && ok;
    out.Close();
    in.Close();
    if (!ok) {
        fileio::Remove(target);
        return std::string();
    }
    WipeAndRemove(copyPath);
    return target;
}
