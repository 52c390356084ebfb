#pragma once
// A hint to start loading memory that is about to be changed. The late stages touch hundreds of
// thousands of scattered message entries; asking for a page's worth at once overlaps the waits.
namespace edb {

inline void PrefetchForWrite(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p, 1);
#else
    static_cast<void>(p);
#endif
}

} // namespace edb
