#pragma once
#include <cstdint>

#include "app/manifest_block.h"

// Indexes of files whose tasks must be reopened rather than trusted: unique,
// kept in ascending order, and asked by membership.
class TRecheckList {
public:
    bool Contains(int32_t index) const
    {
        for (int32_t i = 0; i < count; ++i) {
            if (list[i] == index)
                return true;
        }
        return false;
    }
    void Add(int32_t index)
    {
        if (index < 0 || index >= kPackageFileCount || Contains(index))
            return;
        int32_t at = count;
        while (at > 0 && list[at - 1] > index) {
            list[at] = list[at - 1];
            --at;
        }
        list[at] = index;
        ++count;
    }
    void Clear() { count = 0; }
    int32_t Count() const { return count; }
    int32_t At(int32_t position) const { return list[position]; }

private:
    int32_t count = 0;
    int32_t list[kPackageFileCount] = {};
};
