#pragma once
#include <atomic>
#include <cstdint>

#include "engine/base/ref_handle.h"

// Intrusive reference counting for objects that several owners share (peer
// addresses and objects, data files, metainfo). A new object holds one
// reference; the last Release deletes it. Owners hold them through TRef.
// Counts are atomic because a peer record may be released by another thread
// than the one that took it.
class TRefObject {
public:
    TRefObject() = default;
    TRefObject(const TRefObject &) = delete;
    TRefObject &operator=(const TRefObject &) = delete;

    TRefObject *AddRef()
    {
        refCount.fetch_add(1, std::memory_order_relaxed);
        return this;
    }

    // Returns the references left; the object is gone when that is 0.
    int32_t Release()
    {
        int32_t left = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }

    int32_t RefCount() const { return refCount.load(std::memory_order_acquire); }

protected:
    // Only Release destroys a counted object.
    virtual ~TRefObject() = default;

private:
    std::atomic<int32_t> refCount{1};
};
