#pragma once
// Atomic access to a field of a winmm-shaped structure that the system's threads and ours both
// touch (a buffer header's flags, its user word). std::atomic_ref is not in every standard
// library we build with (emscripten's libc++ 14 lacks it); the compilers' builtins are.

namespace platform {

template <typename T>
T LoadShared(const T& field) {
    return __atomic_load_n(&field, __ATOMIC_SEQ_CST);
}

template <typename T>
void StoreShared(T& field, T value) {
    __atomic_store_n(&field, value, __ATOMIC_SEQ_CST);
}

// field = (field | set) & ~clear, as one step.
template <typename T>
void ChangeSharedBits(T& field, T set, T clear) {
    T old = LoadShared(field);
    while (!__atomic_compare_exchange_n(&field, &old, static_cast<T>((old | set) & ~clear), true,
                                        __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    }
}

}  // namespace platform
