// Critical sections as recursive mutexes kept inside the caller's structure,
// and interlocked arithmetic.
#include "internal.h"

#include <new>

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::Opaque),
              "CRITICAL_SECTION storage too small for the lock");
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION),
              "CRITICAL_SECTION storage under-aligned for the lock");

std::recursive_mutex& Lock(LPCRITICAL_SECTION cs) {
    return *std::launder(reinterpret_cast<std::recursive_mutex*>(cs->Opaque));
}

}  // namespace

SIM_API void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    new (lpCriticalSection->Opaque) std::recursive_mutex;
}

SIM_API void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Lock(lpCriticalSection).~recursive_mutex();
}

SIM_API void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Lock(lpCriticalSection).lock();
}

SIM_API void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Lock(lpCriticalSection).unlock();
}

SIM_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    return Lock(lpCriticalSection).try_lock() ? TRUE : FALSE;
}

SIM_API LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value) {
    return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}
