// The one-byte lock that guards the process-wide records holding texts, lists or handles.
// Critical sections are a few copies long and never span a system call other than allocating or
// releasing memory, so spinning is cheaper than any kernel object.
#pragma once

#include <atomic>

#include "core/types.h"

namespace orvelo {

class SpinLock {
  public:
    // Exchanges 1 into the flag until the old value is 0, with a pause hint between tries.
    void lock() noexcept {
        while (flag_.exchange(1, std::memory_order_acquire) != 0) {
            pause();
        }
    }

    void unlock() noexcept { flag_.store(0, std::memory_order_release); }

  private:
    static void pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }

    std::atomic<u8> flag_{0};  // 1 while held
};

}  // namespace orvelo
