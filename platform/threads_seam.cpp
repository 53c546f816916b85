#include "platform/threads.h"
#include "platform/threads_seam.h"

#include <atomic>

namespace {

std::atomic<uint32_t> g_nEventFailures{0};
std::atomic<uint32_t> g_nThreadFailures{0};

// Moves the mask on by one creation and tells whether that creation fails.
bool TakeFailure(std::atomic<uint32_t>& nMask) {
    uint32_t nCurrent = nMask.load();
    while (nCurrent != 0 && !nMask.compare_exchange_weak(nCurrent, nCurrent >> 1)) {
    }
    return (nCurrent & 1u) != 0;
}

}  // namespace

void VFailEventCreations(uint32_t nMask) {
    g_nEventFailures = nMask;
}
void VFailThreadCreations(uint32_t nMask) {
    g_nThreadFailures = nMask;
}

bool VTakeEventCreationFailure() {
    return TakeFailure(g_nEventFailures);
}
bool VTakeThreadCreationFailure() {
    return TakeFailure(g_nThreadFailures);
}
