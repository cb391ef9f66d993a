// The simulated KS filters behind CreateFileA and DeviceIoControl: the pin
// and topology property sets answered from the machine description, rules
// that fail or falsify answers, and property requests that go pending.
#include <algorithm>
#include <cstring>

#include "ks_internal.h"

using sim::DataRange;
using sim::Identifier;
using sim::Pin;
using sim::PropertyRule;

namespace sim::detail {
namespace {

// Never destroyed, so a late caller during process exit stays safe.
struct KsRecords {
    std::mutex mutex;  // KsMutex()
    std::vector<PropertyRequest> requests;
};
KsRecords& Records() {
    static KsRecords* records = new KsRecords;
    return *records;
}

template <class T>
void Append(std::vector<uint8_t>* bytes, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes->insert(bytes->end(), p, p + sizeof(T));
}

std::vector<uint8_t> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + size);
}

// A KSMULTIPLE_ITEM with the given items behind it.
std::vector<uint8_t> MultipleItem(ULONG count, const std::vector<uint8_t>& items) {
    std::vector<uint8_t> answer;
    KSMULTIPLE_ITEM header;
    header.Size = static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + items.size());
    header.Count = count;
    Append(&answer, header);
    answer.insert(answer.end(), items.begin(), items.end());
    return answer;
}

std::vector<uint8_t> Identifiers(const std::vector<Identifier>& identifiers) {
    std::vector<uint8_t> items;
    for (const Identifier& identifier : identifiers) {
        KSIDENTIFIER written;
        std::memset(&written, 0, sizeof(written));
        written.Set = identifier.set;
        written.Id = identifier.id;
        written.Flags = identifier.flags;
        Append(&items, written);
    }
    return MultipleItem(static_cast<ULONG>(identifiers.size()), items);
}

// Each entry is a KSDATARANGE_AUDIO cut to, or padded with zeros to, the
// length the range says it takes (see sim::DataRange).
std::vector<uint8_t> DataRanges(const std::vector<DataRange>& ranges) {
    std::vector<uint8_t> items;
    for (const DataRange& range : ranges) {
        KSDATARANGE_AUDIO audio;
        std::memset(&audio, 0, sizeof(audio));
        audio.DataRange.FormatSize = range.format_size;
        audio.DataRange.MajorFormat = range.major;
        audio.DataRange.SubFormat = range.sub;
        audio.DataRange.Specifier = range.specifier;
        audio.MaximumChannels = range.max_channels;
        audio.MinimumBitsPerSample = range.min_bits;
        audio.MaximumBitsPerSample = range.max_bits;
        audio.MinimumSampleFrequency = range.min_rate;
        audio.MaximumSampleFrequency = range.max_rate;
        const size_t length = range.bytes_written != 0
                                  ? range.bytes_written
                                  : std::max<size_t>(range.format_size, sizeof(KSDATARANGE));
        std::vector<uint8_t> entry = Bytes(&audio, sizeof(audio));
        entry.resize(length, 0);
        items.insert(items.end(), entry.begin(), entry.end());
    }
    return MultipleItem(static_cast<ULONG>(ranges.size()), items);
}

std::vector<uint8_t> Guids(const std::vector<GUID>& guids) {
    std::vector<uint8_t> items;
    for (const GUID& guid : guids) Append(&items, guid);
    return MultipleItem(static_cast<ULONG>(guids.size()), items);
}

// The driver's own answer to a KSPROPSETID_Pin request about one pin.
PropertyAnswer PinProperty(const DeviceState& device, ULONG pin_id, ULONG id) {
    const Pin& pin = device.config.pins[pin_id];
    PropertyAnswer answer;
    switch (id) {
        case KSPROPERTY_PIN_CINSTANCES:
        case KSPROPERTY_PIN_GLOBALCINSTANCES: {
            KSPIN_CINSTANCES instances;
            instances.PossibleCount =
                id == KSPROPERTY_PIN_CINSTANCES ? pin.possible_instances : pin.global_possible_instances;
            instances.CurrentCount = device.live[pin_id];
            Append(&answer.value, instances);
            break;
        }
        case KSPROPERTY_PIN_DATAFLOW:
            Append(&answer.value, static_cast<int32_t>(pin.dataflow));
            break;
        case KSPROPERTY_PIN_COMMUNICATION:
            Append(&answer.value, static_cast<int32_t>(pin.communication));
            break;
        case KSPROPERTY_PIN_CATEGORY:
            Append(&answer.value, pin.category);
            break;
        case KSPROPERTY_PIN_NAME:
            answer.value = Bytes(pin.name.c_str(), (pin.name.size() + 1) * sizeof(char16_t));
            break;
        case KSPROPERTY_PIN_INTERFACES:
            answer.value = Identifiers(pin.interfaces);
            break;
        case KSPROPERTY_PIN_MEDIUMS:
            answer.value = Identifiers(pin.mediums);
            break;
        case KSPROPERTY_PIN_DATARANGES:
            answer.value = DataRanges(pin.ranges);
            break;
        default:
            answer.error = ERROR_NOT_FOUND;
            break;
    }
    return answer;
}

// A request on a filter. Caller holds KsMutex() (instance counts are read).
PropertyAnswer FilterProperty(const DeviceState& device, const KSPROPERTY& property, const IoRequest& request,
                              ULONG* pin_id) {
    const bool get = (property.Flags & KSPROPERTY_TYPE_GET) != 0;
    const bool pin_set = SameGuid(property.Set, KSPROPSETID_Pin);
    PropertyAnswer answer;
    if (pin_set && property.Id != KSPROPERTY_PIN_CTYPES) {
        // A question about one pin: a KSP_PIN names it.
        if (request.in_size < sizeof(KSP_PIN)) {
            answer.error = ERROR_INVALID_PARAMETER;
            return answer;
        }
        KSP_PIN pin_request;
        std::memcpy(&pin_request, request.in, sizeof(pin_request));
        *pin_id = pin_request.PinId;
        if (pin_request.PinId >= device.config.pins.size()) {
            answer.error = ERROR_NOT_FOUND;
            return answer;
        }
        const PropertyRule* rule = FindRule(device.config.pins[pin_request.PinId].rules, property.Set, property.Id);
        if (RuleFails(rule, request)) {
            answer.error = rule->fail_error;
            return answer;
        }
        // The pin set is read-only.
        answer = get ? PinProperty(device, pin_request.PinId, property.Id) : PropertyAnswer{ERROR_INVALID_FUNCTION, {}, 0, {}};
        if (rule != nullptr && get) ApplyRule(*rule, &answer);
        return answer;
    }

    const PropertyRule* rule = FindRule(device.config.rules, property.Set, property.Id);
    if (RuleFails(rule, request)) {
        answer.error = rule->fail_error;
        return answer;
    }
    if (pin_set) {  // KSPROPERTY_PIN_CTYPES
        if (get) {
            Append(&answer.value, static_cast<ULONG>(device.config.pins.size()));
        } else {
            answer.error = ERROR_INVALID_FUNCTION;
        }
    } else if (SameGuid(property.Set, KSPROPSETID_Topology)) {
        if (property.Id != KSPROPERTY_TOPOLOGY_NODES) {
            answer.error = ERROR_NOT_FOUND;
        } else if (get) {
            answer.value = Guids(device.config.nodes);
        } else {
            answer.error = ERROR_INVALID_FUNCTION;
        }
    } else {
        answer.error = ERROR_SET_NOT_FOUND;
    }
    if (rule != nullptr && get) ApplyRule(*rule, &answer);
    return answer;
}

// A property request either gets or sets.
bool OneOfGetAndSet(ULONG flags) {
    const ULONG kind = flags & (KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET);
    return kind == KSPROPERTY_TYPE_GET || kind == KSPROPERTY_TYPE_SET;
}

// Valid OVERLAPPED events are reset as the request starts, as Windows does.
bool StartRequest(OVERLAPPED* overlapped, HANDLE* event) {
    *event = nullptr;
    if (overlapped == nullptr) return true;
    *event = EventOf(overlapped->hEvent);
    if (!IsEventOrNull(*event)) return false;
    SetEventSignal(*event, false);
    return true;
}

BOOL FilterIoControl(const std::shared_ptr<DeviceState>& device, DWORD code, const IoRequest& request) {
    if (code != IOCTL_KS_PROPERTY) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (request.in == nullptr || request.in_size < sizeof(KSPROPERTY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    KSPROPERTY property;
    std::memcpy(&property, request.in, sizeof(property));

    PropertyAnswer answer;
    bool get = false;
    {
        std::lock_guard<std::mutex> lock(KsMutex());
        PropertyRequest record;
        record.device_path = device->config.path;
        record.set = property.Set;
        record.id = property.Id;
        record.flags = property.Flags;
        record.in_size = request.in_size;
        record.out_size = request.out_size;
        get = (property.Flags & KSPROPERTY_TYPE_GET) != 0;
        if (!OneOfGetAndSet(property.Flags)) {
            answer.error = ERROR_INVALID_PARAMETER;
        } else {
            answer = FilterProperty(*device, property, request, &record.pin_id);
        }
        RecordRequestLocked(std::move(record));
    }
    return FinishProperty(request, get, std::move(answer), device->config.pending_properties,
                          device->config.pending_completes_at_once);
}

}  // namespace

std::mutex& KsMutex() { return Records().mutex; }

void RecordRequestLocked(PropertyRequest request) { Records().requests.push_back(std::move(request)); }

const PropertyRule* FindRule(const std::vector<PropertyRule>& rules, const GUID& set, ULONG id) {
    for (const PropertyRule& rule : rules) {
        if (SameGuid(rule.set, set) && rule.id == id) return &rule;
    }
    return nullptr;
}

bool RuleFails(const PropertyRule* rule, const IoRequest& request) {
    if (rule == nullptr || rule->fail_error == 0) return false;
    return !(rule->fail_reads_only && request.out_size == 0);
}

void ApplyRule(const PropertyRule& rule, PropertyAnswer* answer) {
    if (rule.size_answer) answer->size_answer = *rule.size_answer;
    if (rule.bytes) {
        answer->error = 0;
        answer->value = *rule.bytes;
    }
    if (answer->error != 0 || answer->value.size() < sizeof(KSMULTIPLE_ITEM)) return;
    if (rule.claim_size) std::memcpy(answer->value.data() + offsetof(KSMULTIPLE_ITEM, Size), &*rule.claim_size, 4);
    if (rule.claim_count) std::memcpy(answer->value.data() + offsetof(KSMULTIPLE_ITEM, Count), &*rule.claim_count, 4);
}

BOOL FinishProperty(const IoRequest& request, bool get, PropertyAnswer answer, bool pend, bool pend_done) {
    DWORD ignored = 0;
    DWORD* returned = request.returned != nullptr ? request.returned : &ignored;
    OVERLAPPED* overlapped = request.overlapped;
    if (answer.error != 0) {
        *returned = 0;
        SetLastError(answer.error);
        return FALSE;
    }
    DWORD needed = get ? static_cast<DWORD>(answer.value.size()) : answer.needed;
    if (request.out_size == 0 && answer.size_answer) needed = *answer.size_answer;
    if (request.out_size == 0 && needed > 0) {
        // A size query: the needed size comes back with a warning status,
        // which also completes an OVERLAPPED.
        *returned = needed;
        if (overlapped != nullptr) {
            overlapped->Internal = kStatusBufferOverflow;
            overlapped->InternalHigh = needed;
            SetEventSignal(request.event, true);
        }
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (request.out_size < needed) {
        *returned = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const DWORD count = get ? needed : 0;
    if (overlapped != nullptr && pend) {
        overlapped->Internal = kStatusPending;
        overlapped->InternalHigh = 0;
        *returned = 0;
        uint8_t* out = request.out;
        HANDLE event = request.event;
        auto complete = [out, overlapped, event, count, value = std::move(answer.value)] {
            if (count > 0) std::memcpy(out, value.data(), count);
            overlapped->InternalHigh = count;
            __atomic_store_n(&overlapped->Internal, kStatusSuccess, __ATOMIC_RELEASE);
            SetEventSignal(event, true);
        };
        if (pend_done) {
            complete();
        } else {
            CompleteLater(std::move(complete));
        }
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (count > 0) std::memcpy(request.out, answer.value.data(), count);
    *returned = count;
    if (overlapped != nullptr) {
        overlapped->Internal = kStatusSuccess;
        overlapped->InternalHigh = count;
        SetEventSignal(request.event, true);
    }
    return TRUE;
}

void ResetKsPropertyRecords() {
    std::lock_guard<std::mutex> lock(KsMutex());
    Records().requests.clear();
}

}  // namespace sim::detail

using sim::detail::DeviceState;
using sim::detail::FilterObject;
using sim::detail::Kind;

SIM_API HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto machine = sim::detail::CurrentSnapshot();
    for (const auto& device : machine->devices) {
        bool named = sim::detail::EqualsNoCase(lpFileName, device->config.path);
        for (const sim::Interface& interface : device->config.interfaces) {
            named = named || (!interface.path.empty() && sim::detail::EqualsNoCase(lpFileName, interface.path));
        }
        if (!named || !device->config.present) continue;
        if (device->config.open_error != 0) {
            SetLastError(device->config.open_error);
            return INVALID_HANDLE_VALUE;
        }
        return sim::detail::InsertHandle(std::make_shared<FilterObject>(device));
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

SIM_API BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                             LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                             LPOVERLAPPED lpOverlapped) {
    std::shared_ptr<sim::detail::Object> object;
    {
        std::lock_guard<std::mutex> lock(sim::detail::KernelMutex());
        object = sim::detail::LookupLocked(hDevice);
    }
    if (!object || (object->kind() != Kind::Filter && object->kind() != Kind::Pin)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Without an OVERLAPPED the byte count is where the call reports, so it
    // must be there; a buffer size with no buffer is refused.
    if ((lpOverlapped == nullptr && lpBytesReturned == nullptr) || (lpOutBuffer == nullptr && nOutBufferSize != 0) ||
        (lpInBuffer == nullptr && nInBufferSize != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpBytesReturned != nullptr) *lpBytesReturned = 0;
    sim::detail::IoRequest request{static_cast<const uint8_t*>(lpInBuffer), nInBufferSize,
                                   static_cast<uint8_t*>(lpOutBuffer), nOutBufferSize, lpBytesReturned,
                                   lpOverlapped, nullptr};
    if (!sim::detail::StartRequest(lpOverlapped, &request.event)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->kind() == Kind::Filter) {
        return sim::detail::FilterIoControl(static_cast<FilterObject&>(*object).device, dwIoControlCode, request);
    }
    return sim::detail::PinIoControl(static_cast<sim::detail::PinObject&>(*object).pin, dwIoControlCode, request);
}

namespace sim {

SIM_CONTROL std::vector<PropertyRequest> PropertyRequests() {
    std::lock_guard<std::mutex> lock(detail::KsMutex());
    return detail::Records().requests;
}

}  // namespace sim
