// Machine descriptions in JSON (format in the README, "Simulated machines").
// Every element is checked: an unknown key or a value of the wrong kind is
// refused with the path of the element, e.g.
// "devices[1].pins[0].ranges[0].max_bits: expected a number".
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <utility>

#include "machine_state.h"

namespace {

using nlohmann::json;
using sim::Clock;
using sim::DataRange;
using sim::Device;
using sim::Identifier;
using sim::Interface;
using sim::Machine;
using sim::Pin;
using sim::PropertyRule;
using sim::RegistryValue;

// Thrown with the whole message; caught by ParseMachine.
struct Refusal {
    std::string message;
};

[[noreturn]] void Refuse(const std::string& path, const std::string& what) {
    throw Refusal{(path.empty() ? std::string("top level") : path) + ": " + what};
}

std::string Member(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}
std::string Element(const std::string& path, size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

template <class T>
struct Named {
    const char* name;
    T value;
};

// An object being read: its type and its keys are checked up front.
class ObjectReader {
public:
    ObjectReader(const json& value, std::string path, std::initializer_list<const char*> keys)
        : value_(value), path_(std::move(path)) {
        if (!value.is_object()) Refuse(path_, "expected an object");
        for (const auto& item : value.items()) {
            bool known = false;
            for (const char* key : keys) known = known || item.key() == key;
            if (!known) Refuse(Member(path_, item.key()), "unknown key");
        }
    }
    const json* Find(const char* key) const {
        const auto it = value_.find(key);
        return it == value_.end() ? nullptr : &*it;
    }
    const json& Require(const char* key) const {
        const json* found = Find(key);
        if (found == nullptr) Refuse(Member(path_, key), "missing");
        return *found;
    }
    std::string Path(const char* key) const { return Member(path_, key); }
    const std::string& path() const { return path_; }

private:
    const json& value_;
    const std::string path_;
};

bool ReadBool(const json& value, const std::string& path) {
    if (!value.is_boolean()) Refuse(path, "expected true or false");
    return value.get<bool>();
}

ULONG ReadUlong(const json& value, const std::string& path) {
    if (!value.is_number()) Refuse(path, "expected a number");
    if (value.is_number_float()) Refuse(path, "expected a whole number");
    if (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFFFFFFull) {
        return static_cast<ULONG>(value.get<uint64_t>());
    }
    Refuse(path, "out of range (0 to 4294967295)");
}

std::string ReadString(const json& value, const std::string& path) {
    if (!value.is_string()) Refuse(path, "expected a string");
    return value.get<std::string>();
}

// A number, or one of `names`.
template <class T, size_t N>
ULONG ReadNamed(const json& value, const std::string& path, const Named<T> (&names)[N]) {
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        for (const auto& named : names) {
            if (text == named.name) return static_cast<ULONG>(named.value);
        }
        Refuse(path, "unknown name \"" + text + "\"");
    }
    if (!value.is_number()) Refuse(path, "expected a number or a name");
    return ReadUlong(value, path);
}

const Named<GUID> kGuids[] = {
    {"KSCATEGORY_AUDIO", KSCATEGORY_AUDIO},
    {"KSCATEGORY_RENDER", KSCATEGORY_RENDER},
    {"KSCATEGORY_CAPTURE", KSCATEGORY_CAPTURE},
    {"KSPROPSETID_Pin", KSPROPSETID_Pin},
    {"KSPROPSETID_Connection", KSPROPSETID_Connection},
    {"KSPROPSETID_Topology", KSPROPSETID_Topology},
    {"KSINTERFACESETID_Standard", KSINTERFACESETID_Standard},
    {"KSMEDIUMSETID_Standard", KSMEDIUMSETID_Standard},
    {"KSDATAFORMAT_TYPE_AUDIO", KSDATAFORMAT_TYPE_AUDIO},
    {"KSDATAFORMAT_SUBTYPE_WAVEFORMATEX", KSDATAFORMAT_SUBTYPE_WAVEFORMATEX},
    {"KSDATAFORMAT_SUBTYPE_PCM", KSDATAFORMAT_SUBTYPE_PCM},
    {"PCM", KSDATAFORMAT_SUBTYPE_PCM},
    {"KSDATAFORMAT_SUBTYPE_IEEE_FLOAT", KSDATAFORMAT_SUBTYPE_IEEE_FLOAT},
    {"IEEE_FLOAT", KSDATAFORMAT_SUBTYPE_IEEE_FLOAT},
    {"KSDATAFORMAT_SPECIFIER_WAVEFORMATEX", KSDATAFORMAT_SPECIFIER_WAVEFORMATEX},
    {"KSDATAFORMAT_SPECIFIER_DSOUND", KSDATAFORMAT_SPECIFIER_DSOUND},
    {"KSNODETYPE_SPEAKER", KSNODETYPE_SPEAKER},
    // The wildcards of data ranges are all the null GUID.
    {"GUID_NULL", GUID{}},
    {"KSDATAFORMAT_TYPE_WILDCARD", GUID{}},
    {"KSDATAFORMAT_SUBTYPE_WILDCARD", GUID{}},
    {"KSDATAFORMAT_SPECIFIER_WILDCARD", GUID{}},
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", braces optional.
bool ParseGuidText(std::string text, GUID* guid) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    uint8_t bytes[16];
    size_t n = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return false;
            ++i;
            continue;
        }
        const int hi = HexDigit(text[i]);
        const int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[n++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    guid->Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    guid->Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid->Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
    return true;
}

GUID ReadGuid(const json& value, const std::string& path) {
    if (!value.is_string()) Refuse(path, "expected a GUID (text)");
    const std::string text = value.get<std::string>();
    for (const auto& named : kGuids) {
        if (text == named.name) return named.value;
    }
    GUID guid{};
    if (!ParseGuidText(text, &guid)) {
        Refuse(path, "\"" + text + "\" is neither a GUID like {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx} nor a known name");
    }
    return guid;
}

std::vector<uint8_t> ReadHex(const json& value, const std::string& path) {
    if (!value.is_string()) Refuse(path, "expected hex bytes as text, e.g. \"01 ff\"");
    const std::string text = value.get<std::string>();
    std::vector<uint8_t> bytes;
    int pending = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        const int digit = HexDigit(c);
        if (digit < 0) Refuse(path, std::string("'") + c + "' is not a hex digit");
        if (pending < 0) {
            pending = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(pending * 16 + digit));
            pending = -1;
        }
    }
    if (pending >= 0) Refuse(path, "odd number of hex digits");
    return bytes;
}

const Named<DWORD> kErrors[] = {
    {"ERROR_SUCCESS", ERROR_SUCCESS},
    {"ERROR_INVALID_FUNCTION", ERROR_INVALID_FUNCTION},
    {"ERROR_FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND},
    {"ERROR_PATH_NOT_FOUND", ERROR_PATH_NOT_FOUND},
    {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
    {"ERROR_INVALID_HANDLE", ERROR_INVALID_HANDLE},
    {"ERROR_NOT_ENOUGH_MEMORY", ERROR_NOT_ENOUGH_MEMORY},
    {"ERROR_GEN_FAILURE", ERROR_GEN_FAILURE},
    {"ERROR_NOT_SUPPORTED", ERROR_NOT_SUPPORTED},
    {"ERROR_INVALID_PARAMETER", ERROR_INVALID_PARAMETER},
    {"ERROR_INSUFFICIENT_BUFFER", ERROR_INSUFFICIENT_BUFFER},
    {"ERROR_MOD_NOT_FOUND", ERROR_MOD_NOT_FOUND},
    {"ERROR_PROC_NOT_FOUND", ERROR_PROC_NOT_FOUND},
    {"ERROR_BUSY", ERROR_BUSY},
    {"ERROR_MORE_DATA", ERROR_MORE_DATA},
    {"ERROR_NO_MORE_ITEMS", ERROR_NO_MORE_ITEMS},
    {"ERROR_OPERATION_ABORTED", ERROR_OPERATION_ABORTED},
    {"ERROR_IO_PENDING", ERROR_IO_PENDING},
    {"ERROR_DEVICE_NOT_CONNECTED", ERROR_DEVICE_NOT_CONNECTED},
    {"ERROR_NOT_FOUND", ERROR_NOT_FOUND},
    {"ERROR_NO_MATCH", ERROR_NO_MATCH},
    {"ERROR_SET_NOT_FOUND", ERROR_SET_NOT_FOUND},
    {"ERROR_INVALID_USER_BUFFER", ERROR_INVALID_USER_BUFFER},
    {"ERROR_NO_SUCH_DEVICE_INTERFACE", ERROR_NO_SUCH_DEVICE_INTERFACE},
};

const Named<ULONG> kPropertyIds[] = {
    {"KSPROPERTY_PIN_CINSTANCES", KSPROPERTY_PIN_CINSTANCES},
    {"KSPROPERTY_PIN_CTYPES", KSPROPERTY_PIN_CTYPES},
    {"KSPROPERTY_PIN_DATAFLOW", KSPROPERTY_PIN_DATAFLOW},
    {"KSPROPERTY_PIN_DATARANGES", KSPROPERTY_PIN_DATARANGES},
    {"KSPROPERTY_PIN_DATAINTERSECTION", KSPROPERTY_PIN_DATAINTERSECTION},
    {"KSPROPERTY_PIN_INTERFACES", KSPROPERTY_PIN_INTERFACES},
    {"KSPROPERTY_PIN_MEDIUMS", KSPROPERTY_PIN_MEDIUMS},
    {"KSPROPERTY_PIN_COMMUNICATION", KSPROPERTY_PIN_COMMUNICATION},
    {"KSPROPERTY_PIN_GLOBALCINSTANCES", KSPROPERTY_PIN_GLOBALCINSTANCES},
    {"KSPROPERTY_PIN_NECESSARYINSTANCES", KSPROPERTY_PIN_NECESSARYINSTANCES},
    {"KSPROPERTY_PIN_PHYSICALCONNECTION", KSPROPERTY_PIN_PHYSICALCONNECTION},
    {"KSPROPERTY_PIN_CATEGORY", KSPROPERTY_PIN_CATEGORY},
    {"KSPROPERTY_PIN_NAME", KSPROPERTY_PIN_NAME},
    {"KSPROPERTY_CONNECTION_STATE", KSPROPERTY_CONNECTION_STATE},
    {"KSPROPERTY_TOPOLOGY_CATEGORIES", KSPROPERTY_TOPOLOGY_CATEGORIES},
    {"KSPROPERTY_TOPOLOGY_NODES", KSPROPERTY_TOPOLOGY_NODES},
    {"KSPROPERTY_TOPOLOGY_CONNECTIONS", KSPROPERTY_TOPOLOGY_CONNECTIONS},
    {"KSPROPERTY_TOPOLOGY_NAME", KSPROPERTY_TOPOLOGY_NAME},
};

const Named<DWORD> kRegistryTypes[] = {
    {"REG_NONE", REG_NONE},     {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
    {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},
};

const Named<DWORD> kInterfaceFlags[] = {
    {"SPINT_ACTIVE", SPINT_ACTIVE},
    {"SPINT_DEFAULT", SPINT_DEFAULT},
    {"SPINT_REMOVED", SPINT_REMOVED},
};

const Named<KSPIN_COMMUNICATION> kCommunications[] = {
    {"NONE", KSPIN_COMMUNICATION_NONE},
    {"SINK", KSPIN_COMMUNICATION_SINK},
    {"SOURCE", KSPIN_COMMUNICATION_SOURCE},
    {"BOTH", KSPIN_COMMUNICATION_BOTH},
    {"BRIDGE", KSPIN_COMMUNICATION_BRIDGE},
    {"KSPIN_COMMUNICATION_NONE", KSPIN_COMMUNICATION_NONE},
    {"KSPIN_COMMUNICATION_SINK", KSPIN_COMMUNICATION_SINK},
    {"KSPIN_COMMUNICATION_SOURCE", KSPIN_COMMUNICATION_SOURCE},
    {"KSPIN_COMMUNICATION_BOTH", KSPIN_COMMUNICATION_BOTH},
    {"KSPIN_COMMUNICATION_BRIDGE", KSPIN_COMMUNICATION_BRIDGE},
};

const Named<KSPIN_DATAFLOW> kDataflows[] = {
    {"IN", KSPIN_DATAFLOW_IN},
    {"OUT", KSPIN_DATAFLOW_OUT},
    {"KSPIN_DATAFLOW_IN", KSPIN_DATAFLOW_IN},
    {"KSPIN_DATAFLOW_OUT", KSPIN_DATAFLOW_OUT},
};

const Named<Clock> kClocks[] = {
    {"immediate", Clock::Immediate},
    {"real_time", Clock::RealTime},
    {"virtual", Clock::Virtual},
};

// A number, one flag name, or a list of flag names.
DWORD ReadFlags(const json& value, const std::string& path) {
    if (!value.is_array()) return ReadNamed(value, path, kInterfaceFlags);
    DWORD flags = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const std::string element = Element(path, i);
        if (!value[i].is_string()) Refuse(element, "expected a flag name");
        flags |= ReadNamed(value[i], element, kInterfaceFlags);
    }
    return flags;
}

template <class T, class ReadOne>
std::vector<T> ReadArray(const json& value, const std::string& path, ReadOne read_one) {
    if (!value.is_array()) Refuse(path, "expected a list");
    std::vector<T> items;
    for (size_t i = 0; i < value.size(); ++i) items.push_back(read_one(value[i], Element(path, i)));
    return items;
}

// UTF-8 (already checked by the JSON parser) to UTF-16.
std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        uint32_t code = c;
        size_t extra = 0;
        if (c >= 0xF0) {
            code = c & 0x07u;
            extra = 3;
        } else if (c >= 0xE0) {
            code = c & 0x0Fu;
            extra = 2;
        } else if (c >= 0xC0) {
            code = c & 0x1Fu;
            extra = 1;
        }
        for (size_t k = 1; k <= extra && i + k < text.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        }
        i += 1 + extra;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

Identifier ReadIdentifier(const json& value, const std::string& path) {
    const ObjectReader object(value, path, {"set", "id", "flags"});
    Identifier identifier;
    identifier.set = ReadGuid(object.Require("set"), object.Path("set"));
    if (const json* id = object.Find("id")) identifier.id = ReadUlong(*id, object.Path("id"));
    if (const json* flags = object.Find("flags")) identifier.flags = ReadUlong(*flags, object.Path("flags"));
    return identifier;
}

DataRange ReadRange(const json& value, const std::string& path) {
    const ObjectReader object(value, path,
                              {"major", "sub", "specifier", "max_channels", "min_bits", "max_bits", "min_rate",
                               "max_rate", "format_size", "bytes_written"});
    DataRange range;
    if (const json* v = object.Find("major")) range.major = ReadGuid(*v, object.Path("major"));
    if (const json* v = object.Find("sub")) range.sub = ReadGuid(*v, object.Path("sub"));
    if (const json* v = object.Find("specifier")) range.specifier = ReadGuid(*v, object.Path("specifier"));
    const std::pair<const char*, ULONG*> numbers[] = {
        {"max_channels", &range.max_channels}, {"min_bits", &range.min_bits},
        {"max_bits", &range.max_bits},         {"min_rate", &range.min_rate},
        {"max_rate", &range.max_rate},         {"format_size", &range.format_size},
        {"bytes_written", &range.bytes_written},
    };
    for (const auto& number : numbers) {
        if (const json* v = object.Find(number.first)) *number.second = ReadUlong(*v, object.Path(number.first));
    }
    return range;
}

PropertyRule ReadRule(const json& value, const std::string& path) {
    const ObjectReader object(value, path, {"set", "id", "fail_error", "fail_reads_only", "size_answer", "bytes", "claim_count", "claim_size"});
    PropertyRule rule;
    rule.set = ReadGuid(object.Require("set"), object.Path("set"));
    rule.id = ReadNamed(object.Require("id"), object.Path("id"), kPropertyIds);
    if (const json* v = object.Find("fail_error")) rule.fail_error = ReadNamed(*v, object.Path("fail_error"), kErrors);
    if (const json* v = object.Find("fail_reads_only")) rule.fail_reads_only = ReadBool(*v, object.Path("fail_reads_only"));
    if (const json* v = object.Find("size_answer")) rule.size_answer = ReadUlong(*v, object.Path("size_answer"));
    if (const json* v = object.Find("bytes")) rule.bytes = ReadHex(*v, object.Path("bytes"));
    if (const json* v = object.Find("claim_count")) rule.claim_count = ReadUlong(*v, object.Path("claim_count"));
    if (const json* v = object.Find("claim_size")) rule.claim_size = ReadUlong(*v, object.Path("claim_size"));
    return rule;
}

Pin ReadPin(const json& value, const std::string& path) {
    const ObjectReader object(
        value, path,
        {"communication", "dataflow", "interfaces", "mediums", "ranges", "possible_instances",
         "global_possible_instances", "category", "name", "accepts", "accepts_extensible", "accepts_plain", "clock",
         "clock_scale", "rules", "fail_writes_after", "write_error", "never_complete_writes"});
    Pin pin;
    if (const json* v = object.Find("communication")) {
        pin.communication = static_cast<KSPIN_COMMUNICATION>(ReadNamed(*v, object.Path("communication"), kCommunications));
    }
    if (const json* v = object.Find("dataflow")) {
        pin.dataflow = static_cast<KSPIN_DATAFLOW>(ReadNamed(*v, object.Path("dataflow"), kDataflows));
    }
    if (const json* v = object.Find("interfaces")) {
        pin.interfaces = ReadArray<Identifier>(*v, object.Path("interfaces"), ReadIdentifier);
    }
    if (const json* v = object.Find("mediums")) {
        pin.mediums = ReadArray<Identifier>(*v, object.Path("mediums"), ReadIdentifier);
    }
    if (const json* v = object.Find("ranges")) pin.ranges = ReadArray<DataRange>(*v, object.Path("ranges"), ReadRange);
    if (const json* v = object.Find("possible_instances")) {
        pin.possible_instances = ReadUlong(*v, object.Path("possible_instances"));
    }
    if (const json* v = object.Find("global_possible_instances")) {
        pin.global_possible_instances = ReadUlong(*v, object.Path("global_possible_instances"));
    }
    if (const json* v = object.Find("category")) pin.category = ReadGuid(*v, object.Path("category"));
    if (const json* v = object.Find("name")) pin.name = ToUtf16(ReadString(*v, object.Path("name")));
    if (const json* v = object.Find("accepts")) pin.accepts = ReadArray<DataRange>(*v, object.Path("accepts"), ReadRange);
    if (const json* v = object.Find("accepts_extensible")) {
        pin.accepts_extensible = ReadBool(*v, object.Path("accepts_extensible"));
    }
    if (const json* v = object.Find("accepts_plain")) pin.accepts_plain = ReadBool(*v, object.Path("accepts_plain"));
    if (const json* v = object.Find("clock")) {
        if (!v->is_string()) Refuse(object.Path("clock"), "expected \"immediate\", \"real_time\" or \"virtual\"");
        pin.clock = static_cast<Clock>(ReadNamed(*v, object.Path("clock"), kClocks));
    }
    if (const json* v = object.Find("clock_scale")) {
        if (!v->is_number()) Refuse(object.Path("clock_scale"), "expected a number");
        pin.clock_scale = v->get<double>();
        if (!(pin.clock_scale > 0) || !std::isfinite(pin.clock_scale)) {
            Refuse(object.Path("clock_scale"), "must be greater than 0");
        }
    }
    if (const json* v = object.Find("rules")) pin.rules = ReadArray<PropertyRule>(*v, object.Path("rules"), ReadRule);
    if (const json* v = object.Find("fail_writes_after")) {
        const std::string where = object.Path("fail_writes_after");
        if (!v->is_number_integer()) Refuse(where, "expected a whole number");
        const int64_t count = v->get<int64_t>();
        if (count < -1 || count > std::numeric_limits<int>::max()) Refuse(where, "out of range (-1 and up)");
        pin.fail_writes_after = static_cast<int>(count);
    }
    if (const json* v = object.Find("write_error")) pin.write_error = ReadNamed(*v, object.Path("write_error"), kErrors);
    if (const json* v = object.Find("never_complete_writes")) {
        pin.never_complete_writes = ReadBool(*v, object.Path("never_complete_writes"));
    }
    return pin;
}

Interface ReadInterface(const json& value, const std::string& path) {
    const ObjectReader object(value, path, {"category", "flags", "path"});
    Interface interface;
    interface.category = ReadGuid(object.Require("category"), object.Path("category"));
    if (const json* v = object.Find("flags")) interface.flags = ReadFlags(*v, object.Path("flags"));
    if (const json* v = object.Find("path")) interface.path = ReadString(*v, object.Path("path"));
    return interface;
}

// Text (a REG_SZ with its terminator), null (no value), or an object with a
// type and exactly the stored bytes, as "hex" or as "text" (no terminator added).
std::optional<RegistryValue> ReadRegistryValue(const json& value, const std::string& path) {
    if (value.is_null()) return std::nullopt;
    if (value.is_string()) return RegistryValue::Text(value.get<std::string>());
    if (!value.is_object()) Refuse(path, "expected text, null or an object with \"type\" and \"hex\" or \"text\"");
    const ObjectReader object(value, path, {"type", "hex", "text"});
    RegistryValue stored;
    stored.type = ReadNamed(object.Require("type"), object.Path("type"), kRegistryTypes);
    const json* hex = object.Find("hex");
    const json* text = object.Find("text");
    if ((hex == nullptr) == (text == nullptr)) Refuse(path, "needs exactly one of \"hex\" and \"text\"");
    if (hex != nullptr) {
        stored.data = ReadHex(*hex, object.Path("hex"));
    } else {
        const std::string bytes = ReadString(*text, object.Path("text"));
        stored.data.assign(bytes.begin(), bytes.end());
    }
    return stored;
}

Device ReadDevice(const json& value, const std::string& path) {
    const ObjectReader object(value, path,
                              {"path", "interfaces", "present", "friendly_name", "key_opens", "open_error",
                               "pending_properties", "pending_completes_at_once", "pins", "nodes", "rules"});
    Device device;
    device.path = ReadString(object.Require("path"), object.Path("path"));
    if (device.path.empty()) Refuse(object.Path("path"), "must not be empty");
    if (const json* v = object.Find("interfaces")) {
        device.interfaces = ReadArray<Interface>(*v, object.Path("interfaces"), ReadInterface);
    }
    if (const json* v = object.Find("present")) device.present = ReadBool(*v, object.Path("present"));
    if (const json* v = object.Find("friendly_name")) {
        device.friendly_name = ReadRegistryValue(*v, object.Path("friendly_name"));
    }
    if (const json* v = object.Find("key_opens")) device.key_opens = ReadBool(*v, object.Path("key_opens"));
    if (const json* v = object.Find("open_error")) device.open_error = ReadNamed(*v, object.Path("open_error"), kErrors);
    if (const json* v = object.Find("pending_completes_at_once")) {
        device.pending_completes_at_once = ReadBool(*v, object.Path("pending_completes_at_once"));
    }
    if (const json* v = object.Find("pending_properties")) {
        device.pending_properties = ReadBool(*v, object.Path("pending_properties"));
    }
    if (const json* v = object.Find("pins")) device.pins = ReadArray<Pin>(*v, object.Path("pins"), ReadPin);
    if (const json* v = object.Find("nodes")) device.nodes = ReadArray<GUID>(*v, object.Path("nodes"), ReadGuid);
    if (const json* v = object.Find("rules")) device.rules = ReadArray<PropertyRule>(*v, object.Path("rules"), ReadRule);
    return device;
}

Machine ReadMachine(const json& value) {
    const ObjectReader object(value, "", {"description", "devices", "ksuser_present", "ksuser_exports_create_pin"});
    Machine machine;
    if (const json* v = object.Find("description")) ReadString(*v, object.Path("description"));
    if (const json* v = object.Find("devices")) machine.devices = ReadArray<Device>(*v, object.Path("devices"), ReadDevice);
    if (const json* v = object.Find("ksuser_present")) machine.ksuser_present = ReadBool(*v, object.Path("ksuser_present"));
    if (const json* v = object.Find("ksuser_exports_create_pin")) {
        machine.ksuser_exports_create_pin = ReadBool(*v, object.Path("ksuser_exports_create_pin"));
    }
    return machine;
}

}  // namespace

namespace sim {

SIM_CONTROL bool ParseMachine(const std::string& text, Machine* machine, std::string* error) {
    json document;
    try {
        // Comments are allowed, so a description can explain itself.
        document = json::parse(text, nullptr, true, true);
    } catch (const json::parse_error& e) {
        // The library's text starts with its own exception id in brackets.
        std::string message = e.what();
        const size_t end = message.find("] ");
        if (message.front() == '[' && end != std::string::npos) message = message.substr(end + 2);
        if (error) *error = message;
        return false;
    }
    try {
        Machine parsed = ReadMachine(document);
        if (machine) *machine = std::move(parsed);
        return true;
    } catch (const Refusal& refusal) {
        if (error) *error = refusal.message;
        return false;
    }
}

}  // namespace sim
