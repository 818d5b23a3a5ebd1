#include "platform/sha256.h"

#include <openssl/evp.h>

struct Sha256::State
{
    EVP_MD_CTX *context = nullptr;
    bool usable = false;
};

Sha256::Sha256()
    : m_state(std::make_unique<State>())
{
    m_state->context = EVP_MD_CTX_new();
    m_state->usable = m_state->context && EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_state->context);
}

void Sha256::add(const void *data, std::size_t size)
{
    if (m_state->usable)
        m_state->usable = EVP_DigestUpdate(m_state->context, data, size) == 1;
}

std::string Sha256::hexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool done = m_state->usable && EVP_DigestFinal_ex(m_state->context, digest, &length) == 1;
    m_state->usable = false;
    if (!done)
        return std::string();
    return hexText(digest, length);
}
