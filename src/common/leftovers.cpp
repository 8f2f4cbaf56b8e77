#include "common/leftovers.h"

#include <atomic>
#include <cstddef>

namespace {

// More than the largest number of pairs running at once (--jobs) with an
// output each, and the reports.
constexpr std::size_t kSlots = 1024;

std::atomic<const char*> g_files[kSlots];
std::atomic<long> g_workers[kSlots];

static_assert(std::atomic<const char*>::is_always_lock_free && std::atomic<long>::is_always_lock_free,
              "the termination handler reads these");

// Puts `to` into the first slot holding `from`: registering replaces an
// empty slot, unregistering empties the entry's.
template <typename T>
void Replace(std::atomic<T>* slots, T from, T to) {
    for (std::size_t i = 0; i < kSlots; ++i) {
        T expected = from;
        if (slots[i].compare_exchange_strong(expected, to)) {
            return;
        }
    }
}

}  // namespace

void RegisterTemporaryFile(const char* path) { Replace<const char*>(g_files, nullptr, path); }

void UnregisterTemporaryFile(const char* path) { Replace<const char*>(g_files, path, nullptr); }

void RegisterWorker(long id) { Replace<long>(g_workers, 0, id); }

void UnregisterWorker(long id) { Replace<long>(g_workers, id, 0); }

void ForEachTemporaryFile(void (*action)(const char* path)) {
    for (auto& slot : g_files) {
        if (const char* path = slot.load()) {
            action(path);
        }
    }
}

void ForEachWorker(void (*action)(long id)) {
    for (auto& slot : g_workers) {
        if (const long id = slot.load()) {
            action(id);
        }
    }
}
