#include "flash/blockhasher.h"

BlockHasher::BlockHasher(std::size_t blockSize)
    : m_blockSize(blockSize)
    // Left uninitialised: every byte hashed has been read into it first.
    , m_blocks{std::unique_ptr<char[]>(new char[blockSize]), std::unique_ptr<char[]>(new char[blockSize])}
    , m_thread([this] { run(); })
{
}

BlockHasher::~BlockHasher()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitForBlock(lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void BlockHasher::waitForBlock(std::unique_lock<std::mutex> &lock)
{
    m_changed.wait(lock, [this] { return m_block == nullptr; });
}

void BlockHasher::hashNextBlock(std::size_t size)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The block before is done, so its buffer is free for the caller.
        waitForBlock(lock);
        m_block = m_blocks[m_next].get();
        m_size = size;
    }
    m_changed.notify_all();
    m_next ^= 1;
}

std::string BlockHasher::hexDigest()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    waitForBlock(lock);
    return m_hash.hexDigest();
}

void BlockHasher::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_block != nullptr || m_stopping; });
        if (m_block == nullptr)
            return;
        const char *block = m_block;
        const std::size_t size = m_size;
        lock.unlock();
        m_hash.add(block, size);
        lock.lock();
        m_block = nullptr;
        m_changed.notify_all();
    }
}
