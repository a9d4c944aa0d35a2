// A hint to start loading one cache line, for the mesh passes that know a
// few steps ahead which scattered data they will read (the metrics pass and
// the builders walk records and link lists in an order no hardware
// prefetcher guesses).
#pragma once

namespace qx {

// `address` may be null or point anywhere: a prefetch never faults. On x86-64
// the instruction is written out, because the compiler treats a function that
// only calls __builtin_prefetch as free of effects and drops calls to it.
inline void PrefetchCacheLine(const void* address) {
#if defined(__x86_64__)
  asm volatile("prefetcht0 (%0)" : : "r"(address));
#else
  __builtin_prefetch(address);
#endif
}

}  // namespace qx
