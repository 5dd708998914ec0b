#pragma once
#include <cstddef>
#include <cstdint>

// The SHA-1 state of a piece that is written in parts: it is fed the bytes
// as they reach the disk and continues from there, so each byte is hashed
// once. Its state converts to and from the 104-byte RFC 3174 context image
// that the resume record stores. The context lives in a buffer of the
// engine's small-record pool while the hash is active.
class TRunningSha1 {
public:
    static constexpr size_t kImageSize = 104;
    static constexpr size_t kDigestSize = 20;

    TRunningSha1() = default;
    ~TRunningSha1();
    TRunningSha1(const TRunningSha1 &) = delete;
    TRunningSha1 &operator=(const TRunningSha1 &) = delete;

    bool Active() const { return context != nullptr; }
    // A fresh context (any previous state is dropped).
    void Start();
    // Feeds bytes; starts a fresh context first when none is active.
    void Update(const uint8_t *bytes, size_t length);
    // Writes the digest of everything fed and drops the context.
    void Finish(uint8_t digest[kDigestSize]);
    // Drops the context without a digest.
    void Release();

    // The RFC 3174 image of the active state; false when none is active.
    bool ExportImage(uint8_t image[kImageSize]) const;
    // Takes the state from an image. False, leaving no context, when the image
    // is inconsistent: a marked-computed or corrupted state, a block index
    // outside 0..63 or one that disagrees with the bit count.
    bool ImportImage(const uint8_t image[kImageSize]);

private:
    uint8_t *context = nullptr;
};
