#include "engine/storage/info_hash.h"

#include <algorithm>

#include <openssl/evp.h>

#include "engine/base/hex_digits.h"

bool TInfoHash::Compute(const char *data, size_t length, TInfoHash &out)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(data, length, digest, &digestLength, EVP_sha1(), nullptr) != 1 || digestLength != kSize)
        return false;
    std::copy(digest, digest + kSize, out.bytes.begin());
    return true;
}

bool TInfoHash::IsZero() const
{
    for (uint8_t b : bytes) {
        if (b != 0)
            return false;
    }
    return true;
}

std::string TInfoHash::Percent() const
{
    return PercentEscapeBinary(bytes.data(), kSize);
}

std::string TInfoHash::Hex() const
{
    std::string text;
    text.reserve(kSize * 2);
    AppendLowerHex(text, bytes.data(), bytes.size());
    return text;
}
