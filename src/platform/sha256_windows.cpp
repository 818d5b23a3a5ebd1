#include "platform/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <climits>

struct Sha256::State
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool usable = false;
};

namespace {

bool succeeded(NTSTATUS status)
{
    return status >= 0;
}

}

Sha256::Sha256()
    : m_state(std::make_unique<State>())
{
    m_state->usable = succeeded(BCryptOpenAlgorithmProvider(&m_state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))
        && succeeded(BCryptCreateHash(m_state->algorithm, &m_state->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256()
{
    if (m_state->hash)
        BCryptDestroyHash(m_state->hash);
    if (m_state->algorithm)
        BCryptCloseAlgorithmProvider(m_state->algorithm, 0);
}

void Sha256::add(const void *data, std::size_t size)
{
    // CNG takes at most a ULONG at a time.
    auto bytes = static_cast<PUCHAR>(const_cast<void *>(data));
    while (m_state->usable && size > 0) {
        const ULONG chunk = size > ULONG_MAX ? ULONG_MAX : ULONG(size);
        m_state->usable = succeeded(BCryptHashData(m_state->hash, bytes, chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
}

std::string Sha256::hexDigest()
{
    UCHAR digest[32];
    const bool done = m_state->usable && succeeded(BCryptFinishHash(m_state->hash, digest, sizeof digest, 0));
    m_state->usable = false;
    if (!done)
        return std::string();
    return hexText(digest, sizeof digest);
}
