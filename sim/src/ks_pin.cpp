// Simulated KS pins: KsCreatePin's checks of the connect block and format,
// the connection state, and a render pin that holds the packets written to
// it and plays them by its clock while it runs. Also the driver worker
// thread, which plays real-time pins and completes pending requests.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>

#include "ks_internal.h"

namespace sim::detail {

using Steady = std::chrono::steady_clock;

namespace {

// A write the pin holds: the header's fields as they were when it arrived
// (a driver captures them then), the data itself read as it plays.
struct Packet {
    const uint8_t* data;
    ULONG size;
    ULONG done = 0;
    OVERLAPPED* overlapped;
    HANDLE event;
};

// A format's properties as KsCreatePin checks them.
struct WaveFacts {
    GUID sub;
    ULONG channels;
    ULONG bits;
    ULONG rate;
    ULONG bytes_per_second;
    bool extensible;
};

// Beyond any real audio format: a larger FormatSize is refused unread.
constexpr ULONG kMaxFormatSize = 0x10000;

}  // namespace

struct PinInstance {
    PinInstance(std::shared_ptr<DeviceState> device, ULONG pin_id, ULONG bytes_per_second)
        : device(std::move(device)), pin_id(pin_id), bytes_per_second(bytes_per_second) {}
    const Pin& config() const { return device->config.pins[pin_id]; }

    const std::shared_ptr<DeviceState> device;
    const ULONG pin_id;
    const ULONG bytes_per_second;

    // The rest is guarded by KsMutex().
    KSSTATE state = KSSTATE_STOP;
    std::deque<Packet> held;
    PinInstanceRecord record;
    bool closed = false;
    uint64_t played = 0;  // bytes played since creation
    // Real time: the pin has played `anchor_played` bytes at `anchor`.
    Steady::time_point anchor{};
    uint64_t anchor_played = 0;
    uint64_t virtual_rest = 0;  // virtual clock: byte fraction, in thousandths
};

namespace {

// Never destroyed: the worker thread runs until the process ends.
struct PinStore {
    std::vector<std::shared_ptr<PinInstance>> records;  // created since the last reset
    std::vector<std::shared_ptr<PinInstance>> live;     // open
    std::deque<std::function<void()>> completions;
    std::condition_variable wake;
    bool worker_started = false;
};
PinStore& Pins() {
    static PinStore* store = new PinStore;
    return *store;
}

bool Playing(const PinInstance& pin) {
    return pin.state == KSSTATE_RUN && !pin.config().never_complete_writes;
}

void Complete(const Packet& packet, ULONG_PTR status, ULONG bytes) {
    packet.overlapped->InternalHigh = bytes;
    __atomic_store_n(&packet.overlapped->Internal, status, __ATOMIC_RELEASE);
    SetEventSignal(packet.event, true);
}

// Plays up to `budget` bytes from the held packets, in order, completing each
// one played to its end.
void PlayLocked(PinInstance& pin, uint64_t budget) {
    while (!pin.held.empty()) {
        Packet& packet = pin.held.front();
        const ULONG left = packet.size - packet.done;
        if (left > 0) {
            if (budget == 0) return;
            const auto take = static_cast<ULONG>(std::min<uint64_t>(left, budget));
            const uint8_t* from = packet.data + packet.done;
            pin.record.consumed.insert(pin.record.consumed.end(), from, from + take);
            packet.done += take;
            pin.played += take;
            budget -= take;
            if (packet.done < packet.size) return;
        }
        const Packet finished = packet;
        pin.held.pop_front();
        ++pin.record.completed;
        Complete(finished, kStatusSuccess, finished.size);
    }
}

// Hands back every held packet unplayed.
void ReturnAllLocked(PinInstance& pin) {
    while (!pin.held.empty()) {
        const Packet packet = pin.held.front();
        pin.held.pop_front();
        ++pin.record.returned;
        Complete(packet, kStatusCancelled, 0);
    }
}

double RealTimeRate(const PinInstance& pin) { return pin.bytes_per_second * pin.config().clock_scale; }

// A running real-time pin plays what its clock has reached by `now`. With
// nothing to play, its clock starts again when the next packet arrives.
void ServiceRealTimeLocked(PinInstance& pin, Steady::time_point now) {
    if (pin.config().clock != Clock::RealTime || !Playing(pin)) return;
    if (!pin.held.empty()) {
        const double elapsed = std::chrono::duration<double>(now - pin.anchor).count();
        const auto due = pin.anchor_played + static_cast<uint64_t>(elapsed * RealTimeRate(pin));
        PlayLocked(pin, due > pin.played ? due - pin.played : 0);
    }
    if (pin.held.empty()) {
        pin.anchor = now;
        pin.anchor_played = pin.played;
    }
}

// When the packet at the head of a running real-time pin is due to finish.
std::optional<Steady::time_point> NextDueLocked(const PinInstance& pin) {
    if (pin.config().clock != Clock::RealTime || !Playing(pin) || pin.held.empty()) return std::nullopt;
    const Packet& head = pin.held.front();
    const uint64_t target = pin.played + (head.size - head.done) - pin.anchor_played;
    // Rounded up, and a microsecond late rather than early.
    const auto ns = static_cast<int64_t>(std::ceil(static_cast<double>(target) * 1e9 / RealTimeRate(pin))) + 1000;
    return pin.anchor + std::chrono::nanoseconds(ns);
}

void WorkerLoop() {
    PinStore& store = Pins();
    std::unique_lock<std::mutex> lock(KsMutex());
    for (;;) {
        while (!store.completions.empty()) {
            std::function<void()> completion = std::move(store.completions.front());
            store.completions.pop_front();
            lock.unlock();
            completion();
            completion = nullptr;
            lock.lock();
        }
        const Steady::time_point now = Steady::now();
        std::optional<Steady::time_point> next;
        for (const auto& pin : store.live) {
            ServiceRealTimeLocked(*pin, now);
            const auto due = NextDueLocked(*pin);
            if (due && (!next || *due < *next)) next = due;
        }
        if (!store.completions.empty()) continue;
        if (next) {
            store.wake.wait_until(lock, *next);
        } else {
            store.wake.wait(lock);
        }
    }
}

void WakeWorkerLocked() {
    PinStore& store = Pins();
    if (!store.worker_started) {
        std::thread(WorkerLoop).detach();
        store.worker_started = true;
    }
    store.wake.notify_all();
}

// Starts playing what a running pin holds, by its clock.
void KickLocked(PinInstance& pin) {
    if (!Playing(pin)) return;
    switch (pin.config().clock) {
        case Clock::Immediate:
            PlayLocked(pin, UINT64_MAX);
            break;
        case Clock::RealTime:
            WakeWorkerLocked();
            break;
        case Clock::Virtual:
            break;
    }
}

void SetStateLocked(PinInstance& pin, KSSTATE state) {
    const Steady::time_point now = Steady::now();
    ServiceRealTimeLocked(pin, now);  // what was due before the change plays
    const KSSTATE previous = pin.state;
    pin.state = state;
    pin.record.states.push_back(state);
    if (state == KSSTATE_STOP) ReturnAllLocked(pin);
    if (state == KSSTATE_RUN && previous != KSSTATE_RUN) {
        pin.anchor = now;
        pin.anchor_played = pin.played;
    }
    KickLocked(pin);
}

void CloseLocked(PinInstance& pin) {
    if (pin.closed) return;
    ServiceRealTimeLocked(pin, Steady::now());
    pin.closed = true;
    ReturnAllLocked(pin);
    pin.record.open = false;
    --pin.device->live[pin.pin_id];
    auto& live = Pins().live;
    live.erase(std::remove_if(live.begin(), live.end(), [&](const auto& p) { return p.get() == &pin; }),
               live.end());
}

bool Matches(const GUID& range, const GUID& actual) { return IsNullGuid(range) || SameGuid(range, actual); }

// The sub-format a plain WAVEFORMATEX tag stands for: the tag in the first
// field of the audio sub-format pattern.
GUID SubFormatOfTag(WORD tag) {
    GUID sub = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
    sub.Data1 = tag;
    return sub;
}

// A well-formed KSDATAFORMAT + WAVEFORMATEX(TENSIBLE) block, or false.
bool ReadWave(const KSDATAFORMAT& format, const uint8_t* block, WaveFacts* facts) {
    if (format.FormatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX) || format.FormatSize > kMaxFormatSize) {
        return false;
    }
    if (!SameGuid(format.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) ||
        !SameGuid(format.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
        return false;
    }
    WAVEFORMATEX wave;
    std::memcpy(&wave, block + sizeof(KSDATAFORMAT), sizeof(wave));
    if (wave.nChannels < 1 || wave.wBitsPerSample == 0 || wave.wBitsPerSample % 8 != 0 || wave.nSamplesPerSec == 0) {
        return false;
    }
    const uint64_t block_align = uint64_t{wave.nChannels} * wave.wBitsPerSample / 8;
    if (wave.nBlockAlign != block_align || wave.nAvgBytesPerSec != uint64_t{wave.nSamplesPerSec} * block_align) {
        return false;
    }
    facts->channels = wave.nChannels;
    facts->bits = wave.wBitsPerSample;
    facts->rate = wave.nSamplesPerSec;
    facts->bytes_per_second = wave.nAvgBytesPerSec;
    facts->extensible = wave.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    if (facts->extensible) {
        const size_t extra = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        if (wave.cbSize < extra || format.FormatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE)) {
            return false;
        }
        WAVEFORMATEXTENSIBLE extensible;
        std::memcpy(&extensible, block + sizeof(KSDATAFORMAT), sizeof(extensible));
        const WORD valid = extensible.Samples.wValidBitsPerSample;
        if (valid == 0 || valid > wave.wBitsPerSample) return false;
        facts->sub = extensible.SubFormat;
    } else {
        facts->sub = SubFormatOfTag(wave.wFormatTag);
    }
    // The data format's own sub-format must say the same.
    return SameGuid(format.SubFormat, facts->sub);
}

bool InRange(const DataRange& range, const KSDATAFORMAT& format, const WaveFacts& wave) {
    return Matches(range.major, format.MajorFormat) && Matches(range.sub, wave.sub) &&
           Matches(range.specifier, format.Specifier) && wave.channels <= range.max_channels &&
           range.min_bits <= wave.bits && wave.bits <= range.max_bits && range.min_rate <= wave.rate &&
           wave.rate <= range.max_rate;
}

bool Accepts(const Pin& pin, const KSDATAFORMAT& format, const WaveFacts& wave) {
    if (wave.extensible ? !pin.accepts_extensible : !pin.accepts_plain) return false;
    const std::vector<DataRange>& ranges = pin.accepts.empty() ? pin.ranges : pin.accepts;
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const DataRange& range) { return InRange(range, format, wave); });
}

bool Offers(const std::vector<Identifier>& offered, const KSIDENTIFIER& wanted) {
    return std::any_of(offered.begin(), offered.end(), [&](const Identifier& identifier) {
        return SameGuid(identifier.set, wanted.Set) && identifier.id == wanted.Id;
    });
}

BOOL StateProperty(const std::shared_ptr<PinInstance>& pin, const IoRequest& request) {
    if (request.in == nullptr || request.in_size < sizeof(KSPROPERTY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    KSPROPERTY property;
    std::memcpy(&property, request.in, sizeof(property));
    const ULONG kind = property.Flags & (KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET);
    const bool get = kind == KSPROPERTY_TYPE_GET;
    PropertyAnswer answer;
    {
        std::lock_guard<std::mutex> lock(KsMutex());
        PropertyRequest record;
        record.device_path = pin->device->config.path;
        record.on_pin_instance = true;
        record.set = property.Set;
        record.id = property.Id;
        record.flags = property.Flags;
        record.in_size = request.in_size;
        record.out_size = request.out_size;
        RecordRequestLocked(std::move(record));

        const PropertyRule* rule = SameGuid(property.Set, KSPROPSETID_Connection)
                                       ? FindRule(pin->config().rules, property.Set, property.Id)
                                       : nullptr;
        if (pin->closed) {
            answer.error = ERROR_INVALID_HANDLE;
        } else if (kind != KSPROPERTY_TYPE_GET && kind != KSPROPERTY_TYPE_SET) {
            answer.error = ERROR_INVALID_PARAMETER;
        } else if (RuleFails(rule, request)) {
            answer.error = rule->fail_error;
        } else if (!SameGuid(property.Set, KSPROPSETID_Connection)) {
            answer.error = ERROR_SET_NOT_FOUND;
        } else if (property.Id != KSPROPERTY_CONNECTION_STATE) {
            answer.error = ERROR_NOT_FOUND;
        } else if (get) {
            const int32_t state = pin->state;
            answer.value.resize(sizeof(state));
            std::memcpy(answer.value.data(), &state, sizeof(state));
        } else {
            answer.needed = sizeof(KSSTATE);
            if (request.out_size >= sizeof(KSSTATE)) {
                int32_t state = 0;
                std::memcpy(&state, request.out, sizeof(state));
                if (state < KSSTATE_STOP || state > KSSTATE_RUN) {
                    answer.error = ERROR_INVALID_PARAMETER;
                } else {
                    SetStateLocked(*pin, static_cast<KSSTATE>(state));
                }
            }
        }
        if (rule != nullptr && get) ApplyRule(*rule, &answer);
    }
    return FinishProperty(request, get, std::move(answer), pin->device->config.pending_properties,
                          pin->device->config.pending_completes_at_once);
}

BOOL WriteStream(const std::shared_ptr<PinInstance>& pin, const IoRequest& request) {
    if (request.overlapped == nullptr || request.out == nullptr || request.out_size < sizeof(KSSTREAM_HEADER)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    KSSTREAM_HEADER header;
    std::memcpy(&header, request.out, sizeof(header));
    if (header.Size < sizeof(KSSTREAM_HEADER) || header.Size != request.out_size ||
        (header.DataUsed > 0 && header.Data == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(KsMutex());
    if (pin->closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const Pin& config = pin->config();
    if (config.fail_writes_after >= 0 && pin->record.writes >= static_cast<size_t>(config.fail_writes_after)) {
        SetLastError(config.write_error);
        return FALSE;
    }
    ++pin->record.writes;
    request.overlapped->InternalHigh = 0;
    __atomic_store_n(&request.overlapped->Internal, kStatusPending, __ATOMIC_RELEASE);
    ServiceRealTimeLocked(*pin, Steady::now());  // a starved clock starts again with this packet
    pin->held.push_back(
        Packet{static_cast<const uint8_t*>(header.Data), header.DataUsed, 0, request.overlapped, request.event});
    KickLocked(*pin);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

}  // namespace

void PinObject::Closed() {
    std::lock_guard<std::mutex> lock(KsMutex());
    CloseLocked(*pin);
}

void CompleteLater(std::function<void()> completion) {
    std::lock_guard<std::mutex> lock(KsMutex());
    Pins().completions.push_back(std::move(completion));
    WakeWorkerLocked();
}

BOOL PinIoControl(const std::shared_ptr<PinInstance>& pin, DWORD code, const IoRequest& request) {
    switch (code) {
        case IOCTL_KS_PROPERTY:
            return StateProperty(pin, request);
        case IOCTL_KS_WRITE_STREAM:
            return WriteStream(pin, request);
        default:
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
    }
}

DWORD CreatePinInstance(HANDLE filter, const KSPIN_CONNECT* connect, HANDLE* handle) {
    const auto object = LookupAs<FilterObject>(filter, Kind::Filter);
    if (!object) return ERROR_INVALID_HANDLE;
    if (connect == nullptr || handle == nullptr) return ERROR_INVALID_PARAMETER;
    const std::shared_ptr<DeviceState>& device = object->device;
    if (connect->PinId >= device->config.pins.size()) return ERROR_NOT_FOUND;
    const Pin& config = device->config.pins[connect->PinId];
    if (!Offers(config.interfaces, connect->Interface) || !Offers(config.mediums, connect->Medium)) {
        return ERROR_NO_MATCH;
    }
    // The data format follows the connect structure directly.
    const uint8_t* block = reinterpret_cast<const uint8_t*>(connect) + sizeof(KSPIN_CONNECT);
    KSDATAFORMAT format;
    std::memcpy(&format, block, sizeof(format));
    WaveFacts wave{};
    if (!ReadWave(format, block, &wave) || !Accepts(config, format, wave)) return ERROR_NO_MATCH;

    auto pin = std::make_shared<PinInstance>(device, connect->PinId, wave.bytes_per_second);
    {
        std::lock_guard<std::mutex> lock(KsMutex());
        if (device->live[connect->PinId] >= config.possible_instances) return ERROR_BUSY;
        ++device->live[connect->PinId];
        pin->record.device_path = device->config.path;
        pin->record.pin_id = connect->PinId;
        const auto* start = reinterpret_cast<const uint8_t*>(connect);
        pin->record.connect.assign(start, start + sizeof(KSPIN_CONNECT) + format.FormatSize);
        Pins().records.push_back(pin);
        Pins().live.push_back(pin);
    }
    *handle = InsertHandle(std::make_shared<PinObject>(pin));
    return ERROR_SUCCESS;
}

void ResetKsRecords() {
    ResetKsPropertyRecords();
    std::lock_guard<std::mutex> lock(KsMutex());
    Pins().records.clear();
}

}  // namespace sim::detail

namespace sim {

SIM_CONTROL std::vector<PinInstanceRecord> PinInstances() {
    std::lock_guard<std::mutex> lock(detail::KsMutex());
    std::vector<PinInstanceRecord> records;
    for (const auto& pin : detail::Pins().records) {
        records.push_back(pin->record);
        records.back().pending = pin->held.size();
    }
    return records;
}

SIM_CONTROL void AdvanceVirtualClock(DWORD milliseconds) {
    std::lock_guard<std::mutex> lock(detail::KsMutex());
    for (const auto& pin : detail::Pins().live) {
        if (pin->config().clock != Clock::Virtual || !detail::Playing(*pin)) continue;
        const uint64_t total = uint64_t{milliseconds} * pin->bytes_per_second + pin->virtual_rest;
        pin->virtual_rest = total % 1000;
        detail::PlayLocked(*pin, total / 1000);
    }
}

}  // namespace sim
