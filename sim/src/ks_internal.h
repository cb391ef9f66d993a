// The simulated KS drivers' shared parts: the filter and pin handle objects,
// the common end of every property request, and the driver worker thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "machine_state.h"

namespace sim::detail {

// NTSTATUS values an OVERLAPPED's Internal field takes.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusBufferOverflow = 0x80000005;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

class FilterObject final : public Object {
public:
    explicit FilterObject(std::shared_ptr<DeviceState> device) : Object(Kind::Filter), device(std::move(device)) {}
    const std::shared_ptr<DeviceState> device;
};

struct PinInstance;  // ks_pin.cpp

class PinObject final : public Object {
public:
    explicit PinObject(std::shared_ptr<PinInstance> pin) : Object(Kind::Pin), pin(std::move(pin)) {}
    void Closed() override;
    const std::shared_ptr<PinInstance> pin;
};

// The request being answered, as DeviceIoControl received it.
struct IoRequest {
    const uint8_t* in;
    DWORD in_size;
    uint8_t* out;
    DWORD out_size;
    DWORD* returned;          // may be null when `overlapped` is given
    OVERLAPPED* overlapped;   // null: synchronous
    HANDLE event;             // the OVERLAPPED's event, low bit masked off
};

// What the driver answers a property request with.
struct PropertyAnswer {
    DWORD error = 0;             // nonzero: the request fails with it
    std::vector<uint8_t> value;  // a get's value
    DWORD needed = 0;            // a set's value size (checked against the output size)
    std::optional<DWORD> size_answer;  // what a size query reports, when a rule says so
};

// Looks up the rule for (set, id), first match wins.
const PropertyRule* FindRule(const std::vector<PropertyRule>& rules, const GUID& set, ULONG id);
// True when the rule fails this request (a size query is spared when the rule
// fails reads only).
bool RuleFails(const PropertyRule* rule, const IoRequest& request);
// Replaces the answer's bytes and header fields as the rule says.
void ApplyRule(const PropertyRule& rule, PropertyAnswer* answer);

// Ends a property request the way a WDM driver completes it: size queries,
// too-small buffers, the value, an OVERLAPPED's fields and event, and going
// pending (completed later by the worker) when `pend` is set.
BOOL FinishProperty(const IoRequest& request, bool get, PropertyAnswer answer, bool pend, bool pend_done);

// Adds a request to PropertyRequests(). Caller holds KsMutex().
void RecordRequestLocked(PropertyRequest request);
void ResetKsPropertyRecords();

// Runs `completion` on the driver worker thread soon, without KsMutex() held.
void CompleteLater(std::function<void()> completion);

// Pin instances (ks_pin.cpp).
DWORD CreatePinInstance(HANDLE filter, const KSPIN_CONNECT* connect, HANDLE* pin);
BOOL PinIoControl(const std::shared_ptr<PinInstance>& pin, DWORD code, const IoRequest& request);

}  // namespace sim::detail
