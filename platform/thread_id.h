#pragma once
#include <cstdint>

namespace platform {

// Thread ids are our own non-zero 32-bit numbers, never reused while the
// process lives, so a stale id can never name a newer thread.
uint32_t AllocateThreadId();

// The calling thread's id; the first call on a thread allocates one unless the
// thread adopted an id handed to it by its creator.
uint32_t CurrentThreadId();

// Lets a new thread take the id its creator allocated before starting it.
void AdoptThreadId(uint32_t id);

} // namespace platform
