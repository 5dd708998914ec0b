#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/base/ref_object.h"

namespace {

// A counted object that tells when it is deleted.
class TCounted : public TRefObject {
public:
    explicit TCounted(int &deleted) : deleted(deleted) {}

private:
    ~TCounted() override { ++deleted; }
    int &deleted;
};

TEST(RefHandleTest, AdoptTakesTheFirstReferenceAndShareAddsOne)
{
    int deleted = 0;
    auto *raw = new TCounted(deleted);
    {
        auto owner = TRef<TCounted>::Adopt(raw);
        EXPECT_EQ(raw->RefCount(), 1);
        {
            auto second = TRef<TCounted>::Share(raw);
            EXPECT_EQ(raw->RefCount(), 2);
        }
        EXPECT_EQ(raw->RefCount(), 1);
        EXPECT_EQ(deleted, 0);
    }
    EXPECT_EQ(deleted, 1);
}

TEST(RefHandleTest, CopiesAndMovesKeepTheCountExact)
{
    int deleted = 0;
    auto owner = TRef<TCounted>::Adopt(new TCounted(deleted));
    TCounted *raw = owner.Get();

    TRef<TCounted> copy = owner;
    EXPECT_EQ(raw->RefCount(), 2);
    TRef<TCounted> moved = std::move(copy);
    EXPECT_EQ(copy.Get(), nullptr);
    EXPECT_EQ(raw->RefCount(), 2);

    // Assigning a handle to itself, by copy or move, keeps its reference.
    TRef<TCounted> &alias = moved;
    moved = alias;
    EXPECT_EQ(raw->RefCount(), 2);
    moved = std::move(alias);
    EXPECT_EQ(moved.Get(), raw);
    EXPECT_EQ(raw->RefCount(), 2);

    // Assigning over a handle drops what it held.
    int otherDeleted = 0;
    auto other = TRef<TCounted>::Adopt(new TCounted(otherDeleted));
    other = owner;
    EXPECT_EQ(otherDeleted, 1);
    EXPECT_EQ(raw->RefCount(), 3);

    owner.Reset();
    moved = nullptr;
    EXPECT_EQ(deleted, 0);
    other.Reset();
    EXPECT_EQ(deleted, 1);
}

TEST(RefHandleTest, DetachHandsTheReferenceToTheCaller)
{
    int deleted = 0;
    auto owner = TRef<TCounted>::Adopt(new TCounted(deleted));
    TCounted *raw = owner.Detach();
    EXPECT_EQ(owner.Get(), nullptr);
    EXPECT_EQ(raw->RefCount(), 1);
    EXPECT_EQ(deleted, 0);
    auto again = TRef<TCounted>::Adopt(raw);
    again.Reset();
    EXPECT_EQ(deleted, 1);
}

TEST(RefHandleTest, ListsOfHandlesReleaseWhatTheyErase)
{
    int deleted = 0;
    std::vector<TRef<TCounted>> list;
    for (int i = 0; i < 4; ++i)
        list.push_back(TRef<TCounted>::Adopt(new TCounted(deleted)));
    TCounted *kept = list[1];
    std::erase_if(list, [kept](const TRef<TCounted> &r) { return r != kept; });
    EXPECT_EQ(deleted, 3);
    // A sort moves handles around without touching the counts.
    list.push_back(TRef<TCounted>::Adopt(new TCounted(deleted)));
    std::sort(list.begin(), list.end(), [](TCounted *a, TCounted *b) { return a > b; });
    EXPECT_EQ(kept->RefCount(), 1);
    list.clear();
    EXPECT_EQ(deleted, 5);
}

} // namespace
