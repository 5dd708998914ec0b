#pragma once
#include <cstddef>
#include <utility>

// An owning handle on a reference-counted object (anything with AddRef and
// Release): a copy takes a reference, destruction drops it. A raw pointer
// becomes a handle only by saying whose reference it carries: Adopt takes
// over the one the caller holds (a new object's first reference), Share adds
// one of its own.
template <typename T> class TRef {
public:
    TRef() = default;
    TRef(std::nullptr_t) {}
    TRef(const TRef &other) : object(other.object) { AddRefTo(object); }
    TRef(TRef &&other) noexcept : object(std::exchange(other.object, nullptr)) {}
    ~TRef() { Reset(); }

    TRef &operator=(const TRef &other)
    {
        TRef copy(other);
        std::swap(object, copy.object);
        return *this;
    }
    TRef &operator=(TRef &&other) noexcept
    {
        TRef taken(std::move(other));
        std::swap(object, taken.object);
        return *this;
    }

    static TRef Adopt(T *raw)
    {
        TRef ref;
        ref.object = raw;
        return ref;
    }
    static TRef Share(T *raw)
    {
        AddRefTo(raw);
        return Adopt(raw);
    }

    // Drops the reference held, if any.
    void Reset()
    {
        if (T *held = std::exchange(object, nullptr))
            held->Release();
    }
    // Hands the reference to the caller, who must release it.
    T *Detach() { return std::exchange(object, nullptr); }

    T *Get() const { return object; }
    T *operator->() const { return object; }
    T &operator*() const { return *object; }
    // Reads like the raw pointer it replaces: passing it on lends the object
    // without touching the count.
    operator T *() const { return object; }

private:
    static void AddRefTo(T *raw)
    {
        if (raw != nullptr)
            raw->AddRef();
    }

    T *object = nullptr;
};
