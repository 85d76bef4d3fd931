// LD_PRELOAD helper for the end-to-end benchmark: counts malloc, calloc and
// realloc calls by the shared object that made them (glintbox itself, libc,
// libstdc++, the runtime...) and writes the counts to the file named by
// GLINTBOX_ALLOC_COUNT_FILE at exit. Comparing two runs with different frame
// counts gives the allocations per frame and who makes them.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using MallocFn = void* (*)(size_t);
using CallocFn = void* (*)(size_t, size_t);
using ReallocFn = void* (*)(void*, size_t);

constexpr int kSlots = 32;
struct Slot {
  std::atomic<const void*> base{nullptr};  // the object's load address
  std::atomic<long> calls{0};
};
Slot g_slots[kSlots];
std::atomic<long> g_unknown{0};
thread_local bool t_inside = false;  // dladdr itself may allocate

void count_caller(const void* caller) {
  if (t_inside) return;
  t_inside = true;
  Dl_info info;
  if (dladdr(caller, &info) == 0) {
    ++g_unknown;
  } else {
    for (Slot& slot : g_slots) {
      const void* expected = nullptr;
      if (slot.base.load() == info.dli_fbase ||
          slot.base.compare_exchange_strong(expected, info.dli_fbase) ||
          expected == info.dli_fbase) {
        ++slot.calls;
        break;
      }
    }
  }
  t_inside = false;
}

// Before the real functions are found (dlsym may allocate), a small static pool serves.
alignas(16) char g_pool[1 << 16];
std::atomic<size_t> g_pool_used{0};
void* from_pool(size_t n) {
  const size_t at = g_pool_used.fetch_add((n + 15) & ~size_t{15});
  return at + n <= sizeof g_pool ? g_pool + at : nullptr;
}

MallocFn real_malloc() {
  static MallocFn fn = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
  return fn;
}

__attribute__((destructor)) void report() {
  const char* path = std::getenv("GLINTBOX_ALLOC_COUNT_FILE");
  if (path == nullptr) return;
  FILE* out = std::fopen(path, "w");
  if (out == nullptr) return;
  for (Slot& slot : g_slots) {
    Dl_info info;
    if (slot.base.load() == nullptr) break;
    const char* name = dladdr(slot.base.load(), &info) && info.dli_fname ? info.dli_fname : "?";
    std::fprintf(out, "%ld %s\n", slot.calls.load(), name);
  }
  std::fprintf(out, "%ld ?\n", g_unknown.load());
  std::fclose(out);
}

}  // namespace

extern "C" {

void* malloc(size_t n) {
  static thread_local bool resolving = false;
  if (resolving) return from_pool(n);
  resolving = true;
  MallocFn fn = real_malloc();
  resolving = false;
  count_caller(__builtin_return_address(0));
  return fn(n);
}

void* calloc(size_t n, size_t size) {
  static CallocFn fn = nullptr;
  if (fn == nullptr) {
    static thread_local bool resolving = false;
    if (resolving) {
      void* p = from_pool(n * size);
      if (p != nullptr) std::memset(p, 0, n * size);
      return p;
    }
    resolving = true;
    fn = reinterpret_cast<CallocFn>(dlsym(RTLD_NEXT, "calloc"));
    resolving = false;
  }
  count_caller(__builtin_return_address(0));
  return fn(n, size);
}

void* realloc(void* p, size_t n) {
  static ReallocFn fn = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
  count_caller(__builtin_return_address(0));
  return fn(p, n);
}

void free(void* p) {
  using FreeFn = void (*)(void*);
  static FreeFn fn = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
  const char* c = static_cast<const char*>(p);
  if (c >= g_pool && c < g_pool + sizeof g_pool) return;
  fn(p);
}

}  // extern "C"
