// Shared internals of the simulated platform: the kernel object model, the
// handle table and the hooks the control API uses to reset each part.
#pragma once

#include <sim/control.h>
#include <sim/win32.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace sim::detail {

enum class Kind : uint32_t {
    Event,
    Thread,
    DeviceInfoSet,
    RegistryKey,  // closed by RegCloseKey only
    Filter,       // a KS filter opened with CreateFileA
    Pin,          // a KS pin created with KsCreatePin
};

// Every kernel object. Signal state lives behind KernelMutex(); every change to
// it is followed by KernelCv().notify_all(), so a single wait loop serves all
// object kinds.
class Object {
public:
    static constexpr uint32_t kMagic = 0x4F4B4953u;

    explicit Object(Kind kind) : kind_(kind) {}
    virtual ~Object() { magic_ = 0; }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Kind kind() const { return kind_; }
    bool intact() const { return magic_ == kMagic; }

    // Objects that cannot be waited on make a wait fail with ERROR_INVALID_HANDLE.
    virtual bool Waitable() const { return false; }
    // Both called with KernelMutex() held.
    virtual bool Signalled() const { return false; }
    // The wait that returns this object takes its signal (auto-reset events).
    virtual void Consume() {}
    // The handle was just closed; called without KernelMutex(), so an object
    // may take its own locks and signal events here.
    virtual void Closed() {}

private:
    uint32_t magic_ = kMagic;
    const Kind kind_;
};

std::mutex& KernelMutex();
std::condition_variable& KernelCv();

// The handle table. Handle values are multiples of 4 and never reused, so a
// closed handle stays invalid for good.
HANDLE InsertHandle(std::shared_ptr<Object> object);
// The object behind an open `handle`, or nullptr. Caller holds KernelMutex().
std::shared_ptr<Object> LookupLocked(HANDLE handle);
// The same, taking the lock, and only for an object of `kind`.
std::shared_ptr<Object> Lookup(HANDLE handle, Kind kind);
template <class T>
std::shared_ptr<T> LookupAs(HANDLE handle, Kind kind) {
    return std::static_pointer_cast<T>(Lookup(handle, kind));
}
// Removes `handle` if it refers to an object of `kind`.
bool RemoveHandle(HANDLE handle, Kind kind);

// Event handles as I/O requests name them: an OVERLAPPED's hEvent may carry
// its low bit set (no completion port notice), which is masked off here.
HANDLE EventOf(HANDLE overlapped_event);
// True for an open event (or a null handle, which names none).
bool IsEventOrNull(HANDLE event);
// Sets or clears an event; no-ops for a null or stale handle. Takes
// KernelMutex(), so callers may hold any sim lock but that one.
void SetEventSignal(HANDLE event, bool state);

// True when the next call of `fault`'s function must fail (see sim::FailAfter).
bool ConsumeFault(Fault fault);

// Per-part resets, called from sim::Reset.
void ResetFaults();
void ResetModule();
void ResetDebug();
void ResetUser();
void ResetMachine();     // back to the first machine, records cleared
void ResetAssertions();

}  // namespace sim::detail
