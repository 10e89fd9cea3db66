// Which console thread is writing: one slot per role, filled by the thread
// itself when it starts and cleared when it ends.
#include <atomic>
#include <thread>

#include "console_log.h"

namespace vantrel::log {

namespace {

constexpr int kRoles = 5;
std::atomic<std::thread::id> g_slots[kRoles];
constexpr char kMarkers[kRoles] = {' ', '*', '#', '>', '<'};

}  // namespace

void ClaimThreadRole(ThreadRole role) {
    g_slots[static_cast<int>(role)].store(std::this_thread::get_id());
}

void ReleaseThreadRole(ThreadRole role) {
    g_slots[static_cast<int>(role)].store(std::thread::id());
}

char ThreadMarker() {
    std::thread::id self = std::this_thread::get_id();
    for (int i = 0; i < kRoles; ++i)
        if (g_slots[i].load() == self)
            return kMarkers[i];
    return '?';
}

}  // namespace vantrel::log
