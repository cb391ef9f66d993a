// CKsIrpTarget and DebugTrace: handle rules, the synchronous request's outcome
// table, the property helpers' buffer ownership, and the trace convention.
#include <cstring>
#include <string>

#include "ks/irptgt.h"
#include "ks_fixture.h"

namespace {

using kstest::KsTest;

class IrpTargetTest : public KsTest {
protected:
    // An open filter handle on a device configured by `configure`.
    template <class F>
    HANDLE OpenDevice(F configure) {
        sim::Device device = sim::RenderDevice(kstest::kPathA, "Device");
        configure(device);
        UseDevices({device});
        HANDLE handle = CreateFileA(kstest::kPathA, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        EXPECT_TRUE(CKsIrpTarget::IsValidHandle(handle));
        return handle;
    }
    HANDLE OpenDevice() {
        return OpenDevice([](sim::Device&) {});
    }

    static KSP_PIN PinCountRequest() {
        KSP_PIN request;
        std::memset(&request, 0, sizeof(request));
        request.Property.Set = KSPROPSETID_Pin;
        request.Property.Id = KSPROPERTY_PIN_CTYPES;
        request.Property.Flags = KSPROPERTY_TYPE_GET;
        return request;
    }
};

TEST_F(IrpTargetTest, HandleValidityAndSafeClose) {
    EXPECT_EQ(CKsIrpTarget::IsValidHandle(nullptr), 0);
    EXPECT_EQ(CKsIrpTarget::IsValidHandle(INVALID_HANDLE_VALUE), 0);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(CKsIrpTarget::IsValidHandle(event), 1);

    const size_t open = sim::OpenHandleCount();
    HANDLE none = nullptr;
    EXPECT_EQ(CKsIrpTarget::SafeCloseHandle(none), TRUE);
    EXPECT_EQ(none, nullptr);  // null is left as it is, not made INVALID_HANDLE_VALUE
    HANDLE invalid = INVALID_HANDLE_VALUE;
    EXPECT_EQ(CKsIrpTarget::SafeCloseHandle(invalid), TRUE);
    EXPECT_EQ(sim::OpenHandleCount(), open);

    TraceEverything();
    EXPECT_EQ(CKsIrpTarget::SafeCloseHandle(event), TRUE);
    EXPECT_EQ(event, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::OpenHandleCount(), open - 1);
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "CKsIrpTarget::SafeCloseHandle() Enter",
                           "CKsIrpTarget::IsValidHandle() Enter",
                           "CKsIrpTarget::IsValidHandle() Leave",
                           "CKsIrpTarget::SafeCloseHandle() Leave",
                       }));
}

// Every outcome of one synchronous request, on a request for the pin count
// (a 4-byte answer).
TEST_F(IrpTargetTest, SyncIoctlOutcomes) {
    struct Case {
        const char* name;
        bool pending;
        DWORD fail_error;  // device rule on the pin count
        DWORD ioctl;
        ULONG out_size;
        HRESULT expected;
        ULONG expected_bytes;
        bool value_written;
    };
    const Case cases[] = {
        {"success at once", false, 0, IOCTL_KS_PROPERTY, 4, S_OK, 4, true},
        {"pending, then completed", true, 0, IOCTL_KS_PROPERTY, 4, S_OK, 0, true},
        {"size query", false, 0, IOCTL_KS_PROPERTY, 0, S_OK, 4, false},
        {"buffer too small", false, 0, IOCTL_KS_PROPERTY, 2, E_FAIL, 0, false},
        {"more data with output", false, ERROR_MORE_DATA, IOCTL_KS_PROPERTY, 4, E_FAIL, 0, false},
        {"insufficient buffer without output", false, ERROR_INSUFFICIENT_BUFFER, IOCTL_KS_PROPERTY, 0, S_OK,
         0xFFFFFFFFu, false},
        {"other error", false, ERROR_NOT_FOUND, IOCTL_KS_PROPERTY, 4, E_FAIL, 0, false},
        {"other code without output", false, 0, IOCTL_KS_WRITE_STREAM, 0, E_FAIL, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        HANDLE handle = OpenDevice([&](sim::Device& device) {
            device.pending_properties = c.pending;
            if (c.fail_error != 0) {
                sim::PropertyRule rule;
                rule.set = KSPROPSETID_Pin;
                rule.id = KSPROPERTY_PIN_CTYPES;
                rule.fail_error = c.fail_error;
                device.rules.push_back(rule);
            }
        });
        KSP_PIN request = PinCountRequest();
        ULONG value = 0xABABABABu;
        ULONG bytes = 0xCDCDCDCDu;
        const HRESULT hr = CKsIrpTarget::SyncIoctl(handle, c.ioctl, &request, sizeof(request),
                                                   c.out_size ? &value : nullptr, c.out_size, &bytes);
        EXPECT_EQ(hr, c.expected);
        if (c.expected_bytes != 0xFFFFFFFFu) {
            EXPECT_EQ(bytes, c.expected_bytes);
        }
        if (c.value_written) {
            EXPECT_EQ(value, 2u);  // the render device's two pins
        } else {
            EXPECT_EQ(value, 0xABABABABu);
        }
        CloseHandle(handle);
    }
}

// A wait that fails is reported through the assertion report and E_FAIL. The
// driver here has finished before the wait, so nothing is left outstanding.
TEST_F(IrpTargetTest, SyncIoctlWhoseWaitFailsReportsIt) {
    HANDLE handle = OpenDevice([](sim::Device& device) {
        device.pending_properties = true;
        device.pending_completes_at_once = true;
    });
    TraceEverything();
    sim::SetAssertionAnswer(sim::AssertionAnswer::Ignore);
    sim::FailAfter(sim::Fault::WaitForSingleObject, 0);
    KSP_PIN request = PinCountRequest();
    ULONG value = 0;
    ULONG bytes = 99;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, &request, sizeof(request), &value, sizeof(value),
                                      &bytes),
              E_FAIL);
    sim::ClearFaults();
    EXPECT_EQ(bytes, 0u);
    EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0xffffffff"));
    const std::vector<sim::AssertionRecord> assertions = sim::Assertions();
    ASSERT_EQ(assertions.size(), 1u);
    EXPECT_EQ(assertions[0].expression, "WAIT_OBJECT_0 == dwWait");
    EXPECT_NE(assertions[0].file.find("irptgt"), std::string::npos);
    CloseHandle(handle);
}

TEST_F(IrpTargetTest, SyncIoctlWithoutByteCountStillSucceeds) {
    HANDLE handle = OpenDevice();
    KSP_PIN request = PinCountRequest();
    ULONG value = 0;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, &request, sizeof(request), &value, sizeof(value),
                                      nullptr),
              S_OK);
    EXPECT_EQ(value, 2u);
    CloseHandle(handle);
}

TEST_F(IrpTargetTest, SyncIoctlOnAnInvalidHandleSendsNothing) {
    TraceEverything();
    KSP_PIN request = PinCountRequest();
    ULONG bytes = 77;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(INVALID_HANDLE_VALUE, IOCTL_KS_PROPERTY, &request, sizeof(request), nullptr,
                                      0, &bytes),
              E_FAIL);
    EXPECT_EQ(bytes, 77u);
    EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl Invalid Handle"));
    EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl Leave, returning 0x80004005"));
    EXPECT_TRUE(sim::PropertyRequests().empty());
}

TEST_F(IrpTargetTest, SyncIoctlWithoutAnEventSendsNothing) {
    HANDLE handle = OpenDevice();
    TraceEverything();
    const size_t sent = sim::PropertyRequests().size();
    sim::FailAfter(sim::Fault::CreateEvent, 0);
    KSP_PIN request = PinCountRequest();
    ULONG value = 0;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, &request, sizeof(request), &value, sizeof(value),
                                      nullptr),
              E_OUTOFMEMORY);
    sim::ClearFaults();
    EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl CreateEvent failed"));
    EXPECT_EQ(sim::PropertyRequests().size(), sent);
    CloseHandle(handle);
}

TEST_F(IrpTargetTest, SyncIoctlClosesItsEventOnEveryPath) {
    HANDLE handle = OpenDevice();
    const size_t open = sim::OpenHandleCount();
    KSP_PIN request = PinCountRequest();
    ULONG value = 0;
    CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, &request, sizeof(request), &value, sizeof(value), nullptr);
    CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, &request, sizeof(request), &value, 1, nullptr);
    EXPECT_EQ(sim::OpenHandleCount(), open);
    CloseHandle(handle);
}

// The property helpers on the filter handle: who owns what they allocate.
TEST_F(IrpTargetTest, GetPropertyMultiHandsItsBufferToTheCaller) {
    sim::Reset();
    CKsIrpTarget target(OpenDevice([](sim::Device& device) {
        device.nodes = {KSNODETYPE_SPEAKER, KSCATEGORY_AUDIO};
    }));
    PKSMULTIPLE_ITEM items = nullptr;
    ASSERT_EQ(target.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &items), S_OK);
    ASSERT_NE(items, nullptr);
    EXPECT_EQ(items->Count, 2u);
    EXPECT_EQ(items->Size, sizeof(KSMULTIPLE_ITEM) + 2 * sizeof(GUID));
    operator delete(items);

    // Out of memory: the caller's pointer receives the null.
    items = reinterpret_cast<PKSMULTIPLE_ITEM>(&target);
    test::FailNothrowAllocationsAfter(0);
    EXPECT_EQ(target.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &items), E_OUTOFMEMORY);
    test::DisarmAllocationFailure();
    EXPECT_EQ(items, nullptr);
    CloseHandle(target.m_handle);
}

TEST_F(IrpTargetTest, GetPropertyMultiHandsBackTheBufferOfAFailedRead) {
    CKsIrpTarget target(OpenDevice([](sim::Device& device) {
        device.nodes = {KSNODETYPE_SPEAKER};
        sim::PropertyRule rule;
        rule.set = KSPROPSETID_Topology;
        rule.id = KSPROPERTY_TOPOLOGY_NODES;
        rule.fail_error = ERROR_GEN_FAILURE;
        rule.fail_reads_only = true;
        device.rules.push_back(rule);
    }));
    PKSMULTIPLE_ITEM items = nullptr;
    EXPECT_EQ(target.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &items), E_FAIL);
    ASSERT_NE(items, nullptr);  // the caller's to free
    operator delete(items);
    CloseHandle(target.m_handle);
}

TEST_F(IrpTargetTest, GetPropertyMultiDoesNotBelieveAHugeAnswer) {
    CKsIrpTarget target(OpenDevice([](sim::Device& device) {
        sim::PropertyRule rule;
        rule.set = KSPROPSETID_Topology;
        rule.id = KSPROPERTY_TOPOLOGY_NODES;
        rule.size_answer = 0xFFFFFFF0u;
        device.rules.push_back(rule);
    }));
    TraceEverything();
    PKSMULTIPLE_ITEM items = nullptr;
    EXPECT_EQ(target.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &items), E_FAIL);
    EXPECT_EQ(items, nullptr);
    EXPECT_TRUE(Traced("Property answer of 4294967280 bytes is too large"));
    CloseHandle(target.m_handle);
}

TEST_F(IrpTargetTest, GetPropertyMultiOfAnEmptyAnswerAllocatesNothing) {
    CKsIrpTarget target(OpenDevice([](sim::Device& device) {
        sim::PropertyRule rule;
        rule.set = KSPROPSETID_Topology;
        rule.id = KSPROPERTY_TOPOLOGY_NODES;
        rule.bytes = std::vector<uint8_t>();
        device.rules.push_back(rule);
    }));
    PKSMULTIPLE_ITEM sentinel = reinterpret_cast<PKSMULTIPLE_ITEM>(&target);
    PKSMULTIPLE_ITEM items = sentinel;
    test::FailNothrowAllocationsAfter(0);  // any allocation would fail the call
    EXPECT_EQ(target.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &items), S_OK);
    test::DisarmAllocationFailure();
    EXPECT_EQ(items, sentinel);
    CloseHandle(target.m_handle);
}

TEST_F(IrpTargetTest, GetPropertyMultiKeepsAShortAnswerInsideItsBuffer) {
    // A driver that announces 4 bytes: the header is still wholly readable,
    // and its Size never claims more than the buffer.
    CKsIrpTarget target(OpenDevice([](sim::Device& device) {
        sim::PropertyRule rule;
        rule.set = KSPROPSETID_Topology;
        rule.id = KSPROPERTY_TOPOLOGY_NODES;
        rule.bytes = std::vector<uint8_t>{0xFF, 0xFF, 0x00, 0x00};  // Size 65535, nothing else
        device.rules.push_back(rule);
    }));
    PKSMULTIPLE_ITEM items = nullptr;
    EXPECT_EQ(target.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &items), S_OK);
    ASSERT_NE(items, nullptr);
    EXPECT_LE(items->Size, sizeof(KSMULTIPLE_ITEM));
    EXPECT_EQ(items->Count, 0u);
    operator delete(items);
    CloseHandle(target.m_handle);
}

TEST_F(IrpTargetTest, SetPropertySimpleSendsTheValueInTheOutputBuffer) {
    CKsIrpTarget target(OpenDevice());
    ULONG value = 5;
    BYTE extra[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    target.SetPropertySimple(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NAME, &value, sizeof(value), extra,
                             sizeof(extra));
    const std::vector<sim::PropertyRequest> requests = sim::PropertyRequests();
    ASSERT_FALSE(requests.empty());
    const sim::PropertyRequest& sent = requests.back();
    EXPECT_EQ(sent.flags, KSPROPERTY_TYPE_SET);
    EXPECT_EQ(sent.id, static_cast<ULONG>(KSPROPERTY_TOPOLOGY_NAME));
    EXPECT_EQ(sent.in_size, sizeof(KSPROPERTY) + sizeof(extra));
    EXPECT_EQ(sent.out_size, sizeof(value));

    const size_t count = sim::PropertyRequests().size();
    test::FailNothrowAllocationsAfter(0);
    EXPECT_EQ(target.SetPropertySimple(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NAME, &value, sizeof(value)),
              E_OUTOFMEMORY);
    test::DisarmAllocationFailure();
    EXPECT_EQ(sim::PropertyRequests().size(), count);
    CloseHandle(target.m_handle);
}

TEST_F(IrpTargetTest, DebugTraceHonoursTheThresholdAndCutsLongTexts) {
    sim::ClearDebugOutput();
    EXPECT_EQ(GetDebugTraceThreshold(), 0);
    DebugTrace(1, "hidden at the default threshold");
    EXPECT_TRUE(Trace().empty());

    SetDebugTraceThreshold(3);
    DebugTrace(4, "above");
    DebugTrace(3, "at %d", 3);
    DebugTrace(-1, "below");
    EXPECT_EQ(Trace(), (std::vector<std::string>{"at 3", "below"}));

    sim::ClearDebugOutput();
    const std::string long_text(400, 'x');
    DebugTrace(1, "%s", long_text.c_str());
    ASSERT_EQ(Trace().size(), 1u);
    EXPECT_EQ(Trace()[0], std::string(259, 'x'));
}

}  // namespace
