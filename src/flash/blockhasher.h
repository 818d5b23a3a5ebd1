#pragma once

#include "platform/sha256.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// SHA-256 of a file read block by block, each block hashed in a thread of
// its own while the caller writes it out and reads the next: hashing takes
// about as long as reading and writing, so the two together take about as
// long as a plain copy. Two buffers take turns; the caller fills the one
// nextBlock() gives, which the hashing thread never holds at that time.
class BlockHasher
{
public:
    explicit BlockHasher(std::size_t blockSize);
    ~BlockHasher();
    BlockHasher(const BlockHasher &) = delete;
    BlockHasher &operator=(const BlockHasher &) = delete;

    std::size_t blockSize() const { return m_blockSize; }
    char *nextBlock() { return m_blocks[m_next].get(); }
    // Hashes the first `size` bytes of the block nextBlock() gave, beside
    // the caller, who may still read that block but not change it.
    void hashNextBlock(std::size_t size);
    // Waits for the last block; ends the hash.
    std::string hexDigest();

private:
    void waitForBlock(std::unique_lock<std::mutex> &lock);
    void run();

    const std::size_t m_blockSize;
    std::unique_ptr<char[]> m_blocks[2];
    int m_next = 0;
    Sha256 m_hash;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const char *m_block = nullptr;
    std::size_t m_size = 0;
    bool m_stopping = false;
    // Last, so that it ends before anything it uses.
    std::thread m_thread;
};
