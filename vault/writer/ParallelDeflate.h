// Raw DEFLATE of one entry's data on several threads: the data is cut into
// blocks that are compressed at the same time and written out in order as
// one stream that any inflater reads.
//
// Each block is compressed with the 32 KiB of data before it as its
// dictionary, so matches reach back across the cut as in a single stream.
// Every block but the last ends with a sync flush (an empty stored block
// that ends on a byte boundary), the last one finishes the stream; laid end
// to end they form one valid raw DEFLATE stream. The CRC-32 of each block is
// taken on its worker and the results are combined.
//
// Reading the source and writing the output stay on the calling thread, in
// the order a single stream would do them; only the compression runs on the
// workers. At most two blocks per worker are in memory at once, whatever
// the size of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vault {

// The size of one block. Data smaller than two blocks is compressed in one
// stream on the calling thread: below that the threads do not pay.
constexpr size_t kDeflateBlockSize = 512 * 1024;

// The block size the writer uses: kDeflateBlockSize, unless a test set a
// smaller one (at least 4 KiB; 0 puts the default back) so that small
// entries take the parallel road.
size_t DeflateBlockSize();
void SetDeflateBlockSizeForTest(size_t blockSize);

struct DeflateIo {
    // Fills up to len bytes; fewer only at the end of the data. A result
    // code other than kVaultOk stops the stream with that code.
    std::function<uint32_t(uint8_t* buffer, size_t len, size_t* got)> read;
    // Takes the next piece of the output; a code other than kVaultOk stops
    // the stream with that code.
    std::function<uint32_t(const uint8_t* data, size_t len)> write;
    // Called now and then while the calling thread waits for a block (may
    // be empty).
    std::function<void()> waiting;
};

// Compresses everything io.read delivers at the given level and memory
// level (raw, window bits -15) on up to `threads` workers. On kVaultOk,
// *crc and *bytesRead describe the input. Read and write results are
// passed on; a compressor failure or lack of memory gives kVaultWriteError.
// Every worker has finished when this returns. blockSize must be at least
// 4 KiB; a block shorter than 32 KiB takes its dictionary from the blocks
// before it.
uint32_t DeflateInBlocks(unsigned threads, int level, int memLevel, const DeflateIo& io,
                         uint32_t* crc, uint64_t* bytesRead, size_t blockSize);

}  // namespace vault
