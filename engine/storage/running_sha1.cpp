// The per-piece SHA-1 keeps OpenSSL's low-level context because its fields
// are what the resume record saves; EVP hides them. The low-level calls are
// deprecated in OpenSSL 3, so this one file asks for them explicitly.
#define OPENSSL_API_COMPAT 10101
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "engine/storage/running_sha1.h"

#include <cstring>
#include <new>
#include <openssl/sha.h>

#include "engine/base/engine_buffer_pools.h"

namespace {

SHA_CTX *Context(uint8_t *buffer)
{
    return reinterpret_cast<SHA_CTX *>(buffer);
}

// Image layout (RFC 3174 SHA1Context, little-endian integers).
constexpr size_t kHashAt = 0;
constexpr size_t kLengthLowAt = 20;
constexpr size_t kLengthHighAt = 24;
constexpr size_t kIndexAt = 28;
constexpr size_t kBlockAt = 30;
constexpr size_t kComputedAt = 96;
constexpr size_t kCorruptedAt = 100;
constexpr size_t kBlockSize = 64;

void Put32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t *at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

} // namespace

TRunningSha1::~TRunningSha1()
{
    Release();
}

void TRunningSha1::Start()
{
    if (context == nullptr) {
        static_assert(alignof(SHA_CTX) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
        context = RecordBufferPool().Get(static_cast<int32_t>(sizeof(SHA_CTX)));
        new (context) SHA_CTX;
    }
    SHA1_Init(Context(context));
}

void TRunningSha1::Update(const uint8_t *bytes, size_t length)
{
    if (context == nullptr)
        Start();
    SHA1_Update(Context(context), bytes, length);
}

void TRunningSha1::Finish(uint8_t digest[kDigestSize])
{
    if (context == nullptr)
        Start();
    SHA1_Final(digest, Context(context));
    Release();
}

void TRunningSha1::Release()
{
    if (context == nullptr)
        return;
    RecordBufferPool().Release(context);
    context = nullptr;
}

bool TRunningSha1::ExportImage(uint8_t image[kImageSize]) const
{
    if (context == nullptr)
        return false;
    const SHA_CTX *state = Context(context);
    std::memset(image, 0, kImageSize);
    const uint32_t words[5] = {state->h0, state->h1, state->h2, state->h3, state->h4};
    for (int i = 0; i < 5; ++i)
        Put32(image + kHashAt + 4 * i, words[i]);
    Put32(image + kLengthLowAt, state->Nl);
    Put32(image + kLengthHighAt, state->Nh);
    image[kIndexAt] = static_cast<uint8_t>(state->num);
    image[kIndexAt + 1] = 0;
    // OpenSSL keeps the pending block as raw bytes in message order.
    std::memcpy(image + kBlockAt, state->data, state->num);
    return true;
}

bool TRunningSha1::ImportImage(const uint8_t image[kImageSize])
{
    Release();
    const uint32_t lengthLow = Get32(image + kLengthLowAt);
    const auto index = static_cast<int16_t>(image[kIndexAt] | (image[kIndexAt + 1] << 8));
    if (Get32(image + kComputedAt) != 0 || Get32(image + kCorruptedAt) != 0)
        return false;
    // Whole bytes only, and the pending block must hold exactly the bytes
    // that the length says are not yet compressed.
    if (index < 0 || static_cast<size_t>(index) >= kBlockSize || (lengthLow & 7) != 0 ||
        ((lengthLow >> 3) & (kBlockSize - 1)) != static_cast<uint32_t>(index))
        return false;
    Start();
    SHA_CTX *state = Context(context);
    state->h0 = Get32(image + kHashAt);
    state->h1 = Get32(image + kHashAt + 4);
    state->h2 = Get32(image + kHashAt + 8);
    state->h3 = Get32(image + kHashAt + 12);
    state->h4 = Get32(image + kHashAt + 16);
    state->Nl = lengthLow;
    state->Nh = Get32(image + kLengthHighAt);
    std::memset(state->data, 0, sizeof(state->data));
    std::memcpy(state->data, image + kBlockAt, static_cast<size_t>(index));
    state->num = static_cast<unsigned int>(index);
    return true;
}
