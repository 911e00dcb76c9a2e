// Fault models for the journal tests: a process stopped at its k-th write,
// and a power cut at its k-th write that also loses every write the program
// had not flushed yet.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "vault/fileio/FileIo.h"

namespace hbtest {

struct ProcessStopped {};  // thrown at the chosen write: the process stops there

// Counts every write (and every cut of a file) through the file layer. With
// stopAt > 0, the stopAt-th of them throws Killed before anything of it is
// done. With powerCut set it also remembers, per file, what each write or
// cut replaced until the file is flushed, so that DropUnflushed can put back
// the disk as a power cut at that point would leave it: everything flushed
// stays, everything else is gone. Renames and removals count as done at once.
class FaultModel : public fileio::IoObserver {
public:
    FaultModel(int stopAt, bool powerCut) : m_stopAt(stopAt), m_powerCut(powerCut) {
        fileio::SetIoObserver(this);
    }
    ~FaultModel() override { fileio::SetIoObserver(nullptr); }
    FaultModel(const FaultModel&) = delete;
    FaultModel& operator=(const FaultModel&) = delete;

    int Writes() const { return m_writes; }
    bool Stopped() const { return m_stopped; }

    bool BeforeWrite(CFile& file, uint64_t pos, size_t bytes) override {
        if (m_stopped) return false;
        Count();
        if (m_powerCut) Remember(file, pos, bytes);
        return true;
    }
    bool BeforeTruncate(CFile& file, uint64_t size) override {
        if (m_stopped) return false;
        Count();
        if (m_powerCut) {
            uint64_t old = 0;
            if (file.Size(&old) && size < old) Remember(file, size, static_cast<size_t>(old - size));
            else Remember(file, size, 0);
        }
        return true;
    }
    void AfterFlush(CFile& file) override {
        std::vector<Undo> keep;
        for (Undo& u : m_undo)
            if (u.path != file.Path()) keep.push_back(std::move(u));
        m_undo.swap(keep);
    }
    void AfterRename(const std::string& from, const std::string& to) override {
        std::vector<Undo> keep;
        for (Undo& u : m_undo) {
            if (u.path == to) continue;  // the replaced file is gone
            if (u.path == from) u.path = to;
            keep.push_back(std::move(u));
        }
        m_undo.swap(keep);
    }
    void AfterRemove(const std::string& path) override {
        std::vector<Undo> keep;
        for (Undo& u : m_undo)
            if (u.path != path) keep.push_back(std::move(u));
        m_undo.swap(keep);
    }

    // After the stop (every file closed): undoes, newest first, every change
    // that no flush covered. The model stops observing: what the test does
    // next (recovery, checks) runs on the disk as the cut left it.
    void DropUnflushed() {
        fileio::SetIoObserver(nullptr);
        for (auto it = m_undo.rbegin(); it != m_undo.rend(); ++it) {
            CFile f;
            if (!f.Open(it->path, CFile::Mode::ReadWriteExisting)) continue;
            if (!it->old.empty()) {
                f.Seek(it->pos);
                f.Write(it->old.data(), it->old.size());
            }
            f.Truncate(it->oldSize);
        }
        m_undo.clear();
    }

private:
    struct Undo {
        std::string path;
        uint64_t pos = 0;
        std::vector<uint8_t> old;  // the bytes of the file at pos before the change
        uint64_t oldSize = 0;
    };

    void Count() {
        ++m_writes;
        if (m_stopAt > 0 && m_writes >= m_stopAt) {
            m_stopped = true;
            throw ProcessStopped();
        }
    }

    void Remember(CFile& file, uint64_t pos, size_t bytes) {
        Undo u;
        u.path = file.Path();
        uint64_t size = 0, here = 0;
        if (!file.Size(&size) || !file.Tell(&here)) return;
        u.pos = pos;
        u.oldSize = size;
        if (pos < size) {
            const uint64_t n = std::min<uint64_t>(bytes, size - pos);
            u.old.resize(static_cast<size_t>(n));
            if (n && !file.ReadAt(pos, u.old.data(), u.old.size())) u.old.clear();
            file.Seek(here);
        }
        m_undo.push_back(std::move(u));
    }

    int m_stopAt;
    bool m_powerCut;
    int m_writes = 0;
    bool m_stopped = false;
    std::vector<Undo> m_undo;
};

// While a fault model is the disk, flushes need not wait for the real one.
struct NoDiskWaits {
    NoDiskWaits() { fileio::SetFlushToDisk(false); }
    ~NoDiskWaits() { fileio::SetFlushToDisk(true); }
    NoDiskWaits(const NoDiskWaits&) = delete;
    NoDiskWaits& operator=(const NoDiskWaits&) = delete;
};

}  // namespace hbtest
