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

template <typename T>
void Put(std::atomic<T>* slots, T value, T empty) {
    for (std::size_t i = 0; i < kSlots; ++i) {
        T expected = empty;
        if (slots[i].compare_exchange_strong(expected, value)) {
            return;
        }
    }
}

template <typename T>
void Take(std::atomic<T>* slots, T value, T empty) {
    for (std::size_t i = 0; i < kSlots; ++i) {
        T expected = value;
        if (slots[i].compare_exchange_strong(expected, empty)) {
            return;
        }
    }
}

}  // namespace

void RegisterTemporaryFile(const char* path) { Put<const char*>(g_files, path, nullptr); }

void UnregisterTemporaryFile(const char* path) { Take<const char*>(g_files, path, nullptr); }

void RegisterWorker(long id) { Put<long>(g_workers, id, 0); }

void UnregisterWorker(long id) { Take<long>(g_workers, id, 0); }

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
