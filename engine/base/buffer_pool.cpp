#include "engine/base/buffer_pool.h"

#include <algorithm>

QBufferPool::~QBufferPool()
{
    for (const Entry &entry : freeList)
        delete[] entry.buffer;
    for (const auto &[buffer, size] : inUse)
        delete[] buffer;
}

uint8_t *QBufferPool::Get(int32_t size)
{
    if (size < 1)
        size = 1;
    const int32_t tolerance = std::min<int32_t>(size, 1024);
    {
        QAutoLock hold(guard);
        auto pick = freeList.end();
        for (auto it = freeList.begin(); it != freeList.end(); ++it) {
            if (it->size == size) {
                pick = it;
                break;
            }
            if (pick == freeList.end() && it->size > size && it->size - size < tolerance)
                pick = it;
        }
        if (pick != freeList.end()) {
            Entry taken = *pick;
            freeList.erase(pick);
            inUse.emplace(taken.buffer, taken.size);
            freeBytes -= taken.size;
            inUseBytes += taken.size;
            return taken.buffer;
        }
    }
    auto *made = new uint8_t[static_cast<size_t>(size) + 1];
    made[size] = 0;
    QAutoLock hold(guard);
    inUse.emplace(made, size);
    inUseBytes += size;
    return made;
}

void QBufferPool::Release(uint8_t *buffer)
{
    if (buffer == nullptr)
        return;
    QAutoLock hold(guard);
    auto found = inUse.find(buffer);
    if (found == inUse.end())
        return;
    freeList.push_back({found->second, buffer});
    inUseBytes -= found->second;
    freeBytes += found->second;
    inUse.erase(found);
}

void QBufferPool::Trim(int64_t limit)
{
    std::vector<uint8_t *> dropped;
    {
        QAutoLock hold(guard);
        int64_t kept = 0;
        size_t count = 0;
        while (count < freeList.size() && kept + freeList[count].size <= limit)
            kept += freeList[count++].size;
        for (size_t i = count; i < freeList.size(); ++i)
            dropped.push_back(freeList[i].buffer);
        freeList.resize(count);
        freeBytes = kept;
    }
    for (uint8_t *buffer : dropped)
        delete[] buffer;
}

void QBufferPool::Statistics(int64_t &inUseTotal, int64_t &freeTotal)
{
    QAutoLock hold(guard);
    inUseTotal = inUseBytes;
    freeTotal = freeBytes;
}
