// Machines: the default one, JSON descriptions (every field, the defaults,
// each kind of mistake), the README's example, and Reset.
#include <gtest/gtest.h>
#include <sim/machine.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "ks_helpers.h"
#include "support/temp_dir.h"

namespace {

using simtest::operator==;

// Every field of a machine as text, so two machines compare with a readable diff.
std::string Guid(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        char two[4];
        std::snprintf(two, sizeof(two), "%02x ", b);
        text += two;
    }
    return text;
}

void Dump(std::ostream& out, const sim::DataRange& r) {
    out << "range " << Guid(r.major) << " " << Guid(r.sub) << " " << Guid(r.specifier) << " ch " << r.max_channels
        << " bits " << r.min_bits << "-" << r.max_bits << " rate " << r.min_rate << "-" << r.max_rate << " size "
        << r.format_size << " written " << r.bytes_written << "\n";
}

void Dump(std::ostream& out, const sim::PropertyRule& r) {
    out << "rule " << Guid(r.set) << " " << r.id << " fail " << r.fail_error << " bytes "
        << (r.bytes ? Hex(*r.bytes) : "none") << " count " << (r.claim_count ? std::to_string(*r.claim_count) : "none")
        << " size " << (r.claim_size ? std::to_string(*r.claim_size) : "none") << " reads only "
        << r.fail_reads_only << " size answer " << (r.size_answer ? std::to_string(*r.size_answer) : "none") << "\n";
}

void Dump(std::ostream& out, const sim::Pin& p) {
    out << "pin comm " << p.communication << " flow " << p.dataflow << "\n";
    for (const auto& i : p.interfaces) out << "interface " << Guid(i.set) << " " << i.id << " " << i.flags << "\n";
    for (const auto& m : p.mediums) out << "medium " << Guid(m.set) << " " << m.id << " " << m.flags << "\n";
    for (const auto& r : p.ranges) Dump(out, r);
    out << "instances " << p.possible_instances << " global " << p.global_possible_instances << " category "
        << Guid(p.category) << " name";
    for (char16_t c : p.name) out << " " << static_cast<unsigned>(c);
    out << "\n";
    for (const auto& r : p.accepts) {
        out << "accepts ";
        Dump(out, r);
    }
    out << "extensible " << p.accepts_extensible << " plain " << p.accepts_plain << " clock "
        << static_cast<int>(p.clock) << " scale " << p.clock_scale << "\n";
    for (const auto& r : p.rules) Dump(out, r);
    out << "fail after " << p.fail_writes_after << " error " << p.write_error << " never " << p.never_complete_writes
        << "\n";
}

std::string Dump(const sim::Machine& m) {
    std::ostringstream out;
    out << "ksuser " << m.ksuser_present << " create pin " << m.ksuser_exports_create_pin << "\n";
    for (const auto& d : m.devices) {
        out << "device " << d.path << " present " << d.present << " key " << d.key_opens << " open error "
            << d.open_error << " pending " << d.pending_properties << " at once " << d.pending_completes_at_once << "\n";
        for (const auto& i : d.interfaces) out << "in " << Guid(i.category) << " " << i.flags << " " << i.path << "\n";
        if (d.friendly_name) {
            out << "name " << d.friendly_name->type << " " << Hex(d.friendly_name->data) << "\n";
        } else {
            out << "no name\n";
        }
        for (const auto& p : d.pins) Dump(out, p);
        for (const auto& n : d.nodes) out << "node " << Guid(n) << "\n";
        for (const auto& r : d.rules) Dump(out, r);
    }
    return out.str();
}

sim::Machine Parse(const std::string& json) {
    sim::Machine machine;
    std::string error;
    EXPECT_TRUE(sim::ParseMachine(json, &machine, &error)) << error;
    return machine;
}

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

TEST_F(MachineTest, TheDefaultMachineHasOneRenderDevice) {
    const sim::Machine machine = sim::DefaultMachine();
    ASSERT_EQ(1u, machine.devices.size());
    const sim::Device& device = machine.devices[0];
    EXPECT_EQ("\\\\?\\root#media#0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\simspeakers", device.path);
    EXPECT_EQ(sim::RegistryValue::Text("Simulated Speakers").data, device.friendly_name->data);
    ASSERT_EQ(2u, device.interfaces.size());
    EXPECT_TRUE(device.interfaces[0].category == KSCATEGORY_AUDIO);
    EXPECT_TRUE(device.interfaces[1].category == KSCATEGORY_RENDER);
    EXPECT_EQ(DWORD{SPINT_ACTIVE}, device.interfaces[1].flags);
    ASSERT_EQ(2u, device.pins.size());
    const sim::Pin& sink = device.pins[0];
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, sink.communication);
    EXPECT_EQ(KSPIN_DATAFLOW_IN, sink.dataflow);
    ASSERT_EQ(1u, sink.ranges.size());
    EXPECT_TRUE(sink.ranges[0].sub == KSDATAFORMAT_SUBTYPE_PCM);
    EXPECT_EQ(8u, sink.ranges[0].max_channels);
    EXPECT_EQ(8u, sink.ranges[0].min_bits);
    EXPECT_EQ(32u, sink.ranges[0].max_bits);
    EXPECT_EQ(8000u, sink.ranges[0].min_rate);
    EXPECT_EQ(384000u, sink.ranges[0].max_rate);
    EXPECT_EQ(sim::Clock::Immediate, sink.clock);
    EXPECT_EQ(KSPIN_COMMUNICATION_BRIDGE, device.pins[1].communication);
    EXPECT_EQ(KSPIN_DATAFLOW_OUT, device.pins[1].dataflow);

    // RenderDevice makes the same device elsewhere.
    sim::Machine moved;
    moved.devices = {sim::RenderDevice(device.path, "Simulated Speakers")};
    EXPECT_EQ(Dump(machine), Dump(moved));
    EXPECT_EQ((std::vector<uint8_t>{'A', 'b', 0}), sim::RegistryValue::Text("Ab").data);
    EXPECT_EQ(DWORD{REG_SZ}, sim::RegistryValue::Text("Ab").type);
}

TEST_F(MachineTest, ResetGoesBackToTheFirstMachineAndClearsRecords) {
    // This test program runs without QUARROW_SIM_MACHINE.
    EXPECT_EQ(Dump(sim::DefaultMachine()), Dump(sim::CurrentMachine()));
    sim::SetMachine(sim::Machine{});
    EXPECT_TRUE(sim::CurrentMachine().devices.empty());
    HANDLE filter = CreateFileA(sim::DefaultMachine().devices[0].path.c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, filter);
    sim::SetAssertionAnswer(sim::AssertionAnswer::Ignore);
    _assert("x", "f", 1);
    HMODULE ksuser = LoadLibraryA("ksuser.dll");
    EXPECT_NE(nullptr, ksuser);
    sim::Reset();
    FreeLibrary(ksuser);
    EXPECT_EQ(Dump(sim::DefaultMachine()), Dump(sim::CurrentMachine()));
    EXPECT_TRUE(sim::Assertions().empty());
    EXPECT_TRUE(sim::LoadedModules().empty());
}

TEST_F(MachineTest, EveryFieldIsRead) {
    const sim::Machine parsed = Parse(R"({
      "ksuser_present": false,
      "ksuser_exports_create_pin": false,
      "devices": [{
        "path": "p",
        "interfaces": [{"category": "KSCATEGORY_CAPTURE", "flags": 6, "path": "alias"},
                       {"category": "{01020304-0506-0708-090a-0b0c0d0e0f10}", "flags": "SPINT_DEFAULT"}],
        "present": false,
        "friendly_name": {"type": "REG_BINARY", "hex": "00 ff 41"},
        "key_opens": false,
        "open_error": 5,
        "pending_properties": true,
        "pending_completes_at_once": true,
        "nodes": ["KSNODETYPE_SPEAKER", "GUID_NULL"],
        "rules": [{"set": "KSPROPSETID_Topology", "id": 1, "fail_error": "ERROR_NOT_FOUND"}],
        "pins": [{
          "communication": "KSPIN_COMMUNICATION_BOTH",
          "dataflow": 2,
          "interfaces": [{"set": "KSINTERFACESETID_Standard", "id": 1, "flags": 3}],
          "mediums": [],
          "ranges": [{"major": "GUID_NULL", "sub": "IEEE_FLOAT", "specifier": "KSDATAFORMAT_SPECIFIER_DSOUND",
                      "max_channels": 6, "min_bits": 24, "max_bits": 32, "min_rate": 1, "max_rate": 2,
                      "format_size": 70, "bytes_written": 99}],
          "possible_instances": 4,
          "global_possible_instances": 7,
          "category": "KSCATEGORY_RENDER",
          "name": "A\u00e9\ud83d\ude00",
          "accepts": [{"max_channels": 1}],
          "accepts_extensible": false,
          "accepts_plain": false,
          "clock": "virtual",
          "clock_scale": 2.5,
          "rules": [{"set": "KSPROPSETID_Pin", "id": "KSPROPERTY_PIN_NAME", "bytes": "0102",
                     "claim_count": 5, "claim_size": 6,
                     "fail_reads_only": true, "size_answer": 7}],
          "fail_writes_after": 3,
          "write_error": "ERROR_GEN_FAILURE",
          "never_complete_writes": true
        }]
      }]
    })");

    sim::Machine expected;
    expected.ksuser_present = false;
    expected.ksuser_exports_create_pin = false;
    sim::Device device;
    device.path = "p";
    device.interfaces = {{KSCATEGORY_CAPTURE, 6, "alias"},
                         {{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}}, SPINT_DEFAULT, ""}};
    device.present = false;
    device.friendly_name = sim::RegistryValue{REG_BINARY, {0x00, 0xFF, 0x41}};
    device.key_opens = false;
    device.open_error = ERROR_ACCESS_DENIED;
    device.pending_properties = true;
    device.pending_completes_at_once = true;
    device.nodes = {KSNODETYPE_SPEAKER, GUID{}};
    device.rules = {{KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, ERROR_NOT_FOUND, {}, {}, {}, false, {}}};
    sim::Pin pin;
    pin.communication = KSPIN_COMMUNICATION_BOTH;
    pin.dataflow = KSPIN_DATAFLOW_OUT;
    pin.interfaces = {{KSINTERFACESETID_Standard, 1, 3}};
    pin.mediums = {};
    sim::DataRange range;
    range.major = GUID{};
    range.sub = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    range.specifier = KSDATAFORMAT_SPECIFIER_DSOUND;
    range.max_channels = 6;
    range.min_bits = 24;
    range.max_bits = 32;
    range.min_rate = 1;
    range.max_rate = 2;
    range.format_size = 70;
    range.bytes_written = 99;
    pin.ranges = {range};
    pin.possible_instances = 4;
    pin.global_possible_instances = 7;
    pin.category = KSCATEGORY_RENDER;
    pin.name = u"A\u00e9\U0001F600";
    sim::DataRange mono;
    mono.max_channels = 1;
    pin.accepts = {mono};
    pin.accepts_extensible = false;
    pin.accepts_plain = false;
    pin.clock = sim::Clock::Virtual;
    pin.clock_scale = 2.5;
    pin.rules = {{KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, 0, std::vector<uint8_t>{1, 2}, 5, 6, true, 7}};
    pin.fail_writes_after = 3;
    pin.write_error = ERROR_GEN_FAILURE;
    pin.never_complete_writes = true;
    device.pins = {pin};
    expected.devices = {device};
    EXPECT_EQ(Dump(expected), Dump(parsed));
}

TEST_F(MachineTest, AbsentKeysTakeTheDefaults) {
    sim::Machine expected;
    sim::Device device;
    device.path = "p";
    device.pins = {sim::Pin{}};
    expected.devices = {device};
    EXPECT_EQ(Dump(expected), Dump(Parse(R"({"devices": [{"path": "p", "pins": [{}]}]})")));
    EXPECT_EQ(Dump(sim::Machine{}), Dump(Parse(R"({"devices": []})")));
    EXPECT_EQ(Dump(sim::Machine{}), Dump(Parse("{} // nothing at all")));

    // Text and null friendly names, text stored without a terminator.
    const sim::Machine names = Parse(R"({"devices": [
        {"path": "a", "friendly_name": "Name"},
        {"path": "b", "friendly_name": null},
        {"path": "c", "friendly_name": {"type": 1, "text": "Raw"}}]})");
    EXPECT_EQ(sim::RegistryValue::Text("Name").data, names.devices[0].friendly_name->data);
    EXPECT_FALSE(names.devices[1].friendly_name.has_value());
    EXPECT_EQ((std::vector<uint8_t>{'R', 'a', 'w'}), names.devices[2].friendly_name->data);
}

TEST_F(MachineTest, MistakesAreNamedByTheirPath) {
    const std::string nope = "is neither a GUID like {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx} nor a known name";
    const struct Case {
        std::string json;
        std::string message;
    } cases[] = {
        {R"({"devices": [{"path": "a"}, {"path": "b", "pins": [{"ranges": [{"max_bits": "32"}]}]}]})",
         "devices[1].pins[0].ranges[0].max_bits: expected a number"},
        {R"([])", "top level: expected an object"},
        {R"({"devics": []})", "devics: unknown key"},
        {R"({"devices": {}})", "devices: expected a list"},
        {R"({"devices": [{}]})", "devices[0].path: missing"},
        {R"({"devices": [{"path": ""}]})", "devices[0].path: must not be empty"},
        {R"({"devices": [{"path": 3}]})", "devices[0].path: expected a string"},
        {R"({"devices": [{"path": "a", "present": 1}]})", "devices[0].present: expected true or false"},
        {R"({"devices": [{"path": "a", "pins": [{"bogus": 1}]}]})", "devices[0].pins[0].bogus: unknown key"},
        {R"({"devices": [{"path": "a", "interfaces": [{"category": "KSCATEGORY_AUDI"}]}]})",
         "devices[0].interfaces[0].category: \"KSCATEGORY_AUDI\" " + nope},
        {R"({"devices": [{"path": "a", "interfaces": [{"category": "{6994ad04-93ef-11d0-a3cc-00a0c922319}"}]}]})",
         "devices[0].interfaces[0].category: \"{6994ad04-93ef-11d0-a3cc-00a0c922319}\" " + nope},
        {R"({"devices": [{"path": "a", "interfaces": [{"flags": 1}]}]})", "devices[0].interfaces[0].category: missing"},
        {R"({"devices": [{"path": "a", "interfaces": [{"category": "KSCATEGORY_AUDIO", "flags": ["SPINT_ACTIVE", 3]}]}]})",
         "devices[0].interfaces[0].flags[1]: expected a flag name"},
        {R"({"devices": [{"path": "a", "pins": [{"ranges": [{"major": 5}]}]}]})",
         "devices[0].pins[0].ranges[0].major: expected a GUID (text)"},
        {R"({"devices": [{"path": "a", "pins": [{"ranges": [{"max_rate": -1}]}]}]})",
         "devices[0].pins[0].ranges[0].max_rate: out of range (0 to 4294967295)"},
        {R"({"devices": [{"path": "a", "pins": [{"ranges": [{"max_rate": 4294967296}]}]}]})",
         "devices[0].pins[0].ranges[0].max_rate: out of range (0 to 4294967295)"},
        {R"({"devices": [{"path": "a", "pins": [{"ranges": [{"max_rate": 1.5}]}]}]})",
         "devices[0].pins[0].ranges[0].max_rate: expected a whole number"},
        {R"({"devices": [{"path": "a", "open_error": "ERROR_NOPE"}]})",
         "devices[0].open_error: unknown name \"ERROR_NOPE\""},
        {R"({"devices": [{"path": "a", "rules": [{"set": "KSPROPSETID_Pin", "id": 1, "bytes": "0g"}]}]})",
         "devices[0].rules[0].bytes: 'g' is not a hex digit"},
        {R"({"devices": [{"path": "a", "rules": [{"set": "KSPROPSETID_Pin", "id": 1, "bytes": "123"}]}]})",
         "devices[0].rules[0].bytes: odd number of hex digits"},
        {R"({"devices": [{"path": "a", "pins": [{"rules": [{"set": "KSPROPSETID_Pin"}]}]}]})",
         "devices[0].pins[0].rules[0].id: missing"},
        {R"({"devices": [{"path": "a", "pins": [{"clock": "slow"}]}]})", "devices[0].pins[0].clock: unknown name \"slow\""},
        {R"({"devices": [{"path": "a", "pins": [{"clock": 1}]}]})",
         "devices[0].pins[0].clock: expected \"immediate\", \"real_time\" or \"virtual\""},
        {R"({"devices": [{"path": "a", "pins": [{"clock_scale": 0}]}]})",
         "devices[0].pins[0].clock_scale: must be greater than 0"},
        {R"({"devices": [{"path": "a", "pins": [{"fail_writes_after": -2}]}]})",
         "devices[0].pins[0].fail_writes_after: out of range (-1 and up)"},
        {R"({"devices": [{"path": "a", "pins": [{"communication": "SENDER"}]}]})",
         "devices[0].pins[0].communication: unknown name \"SENDER\""},
        {R"({"devices": [{"path": "a", "friendly_name": {"type": "REG_SZ"}}]})",
         "devices[0].friendly_name: needs exactly one of \"hex\" and \"text\""},
        {R"({"devices": [{"path": "a", "friendly_name": 5}]})",
         "devices[0].friendly_name: expected text, null or an object with \"type\" and \"hex\" or \"text\""},
        {R"({"ksuser_present": "yes"})", "ksuser_present: expected true or false"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        sim::Machine machine = sim::DefaultMachine();
        std::string error;
        EXPECT_FALSE(sim::ParseMachine(c.json, &machine, &error));
        EXPECT_EQ(c.message, error);
        EXPECT_EQ(1u, machine.devices.size());  // left as it was
    }

    std::string error;
    EXPECT_FALSE(sim::ParseMachine(R"({"devices": [})", nullptr, &error));
    EXPECT_EQ(0u, error.find("parse error at line 1, column 14")) << error;
}

TEST_F(MachineTest, TheReadmeExampleIsTheShippedMachineFileAndParses) {
    const std::string path = std::string(QUARROW_SOURCE_DIR) + "/sim/machines/usb-dac.json";
    bool exists = false;
    const std::string file = test::ReadFile(path, &exists);
    ASSERT_TRUE(exists);
    const std::string readme = test::ReadFile(std::string(QUARROW_SOURCE_DIR) + "/README.md");
    const size_t section = readme.find("## Simulated machines");
    ASSERT_NE(std::string::npos, section);
    const size_t start = readme.find("```json\n", section);
    ASSERT_NE(std::string::npos, start);
    const size_t end = readme.find("```\n", start + 8);
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(file, readme.substr(start + 8, end - start - 8));

    sim::Machine machine;
    std::string error;
    ASSERT_TRUE(sim::LoadMachineFile(path, &machine, &error)) << error;
    ASSERT_EQ(2u, machine.devices.size());
    const sim::Device& dac = machine.devices[0];
    EXPECT_EQ("\\\\?\\usb#vid_1234&pid_5678#0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave", dac.path);
    EXPECT_EQ(sim::RegistryValue::Text("USB DAC").data, dac.friendly_name->data);
    ASSERT_EQ(2u, dac.pins.size());
    EXPECT_EQ(24u, dac.pins[0].accepts.at(0).min_bits);
    EXPECT_FALSE(dac.pins[0].accepts_plain);
    EXPECT_EQ(sim::Clock::RealTime, dac.pins[0].clock);
    EXPECT_EQ(KSPIN_COMMUNICATION_BRIDGE, dac.pins[1].communication);
    EXPECT_FALSE(machine.devices[1].present);
    EXPECT_EQ(DWORD{ERROR_DEVICE_NOT_CONNECTED}, machine.devices[1].open_error);
}

TEST_F(MachineTest, MachineFilesThatCannotBeUsedAreNamed) {
    test::TempDir dir;
    std::string error;
    sim::Machine machine;
    EXPECT_FALSE(sim::LoadMachineFile(dir.File("missing.json"), &machine, &error));
    EXPECT_EQ(dir.File("missing.json") + ": cannot be read (No such file or directory)", error);

    test::WriteFile(dir.File("bad.json"), R"({"devices": [{"path": "a", "present": "no"}]})");
    EXPECT_FALSE(sim::LoadMachineFile(dir.File("bad.json"), &machine, &error));
    EXPECT_EQ(dir.File("bad.json") + ": devices[0].present: expected true or false", error);
}

}  // namespace
