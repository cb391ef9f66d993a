// Events, waits, threads, critical sections and interlocked arithmetic.
#include <gtest/gtest.h>
#include <sim/control.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim_thread.h"

namespace {

using simtest::kLongWaitMs;
using simtest::StartThread;

constexpr DWORD kJunkError = 0xDEADBEEF;

class SyncTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        for (HANDLE h : m_handles) CloseHandle(h);
        sim::Reset();
    }
    HANDLE Event(bool manual, bool initial = false) {
        HANDLE h = CreateEventA(nullptr, manual ? TRUE : FALSE, initial ? TRUE : FALSE, nullptr);
        EXPECT_NE(nullptr, h);
        m_handles.push_back(h);
        return h;
    }
    HANDLE Keep(HANDLE h) {
        m_handles.push_back(h);
        return h;
    }

    std::vector<HANDLE> m_handles;
};

TEST_F(SyncTest, HandlesAreDistinctNonNullMultiplesOfFourAndCounted) {
    const size_t before = sim::OpenHandleCount();
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, FALSE, FALSE, "named");
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    for (HANDLE h : {a, b}) EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(h) % 4);
    EXPECT_EQ(before + 2, sim::OpenHandleCount());
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_TRUE(CloseHandle(b));
    EXPECT_EQ(before, sim::OpenHandleCount());
}

TEST_F(SyncTest, WaitAnyReturnsTheLowestSignalledIndex) {
    struct Case {
        unsigned signalled;  // bit i: event i is set
        DWORD expected;
    } cases[] = {
        {0b0001, WAIT_OBJECT_0},     {0b1000, WAIT_OBJECT_0 + 3}, {0b0110, WAIT_OBJECT_0 + 1},
        {0b1010, WAIT_OBJECT_0 + 1}, {0b1111, WAIT_OBJECT_0},     {0b0000, WAIT_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "signalled 0x" << std::hex << c.signalled);
        HANDLE events[4];
        for (int i = 0; i < 4; ++i) events[i] = Event(true, (c.signalled >> i) & 1u);
        EXPECT_EQ(c.expected, WaitForMultipleObjects(4, events, FALSE, 0));
    }
}

TEST_F(SyncTest, AutoResetIsConsumedByTheReturningWaitAndManualResetIsNot) {
    struct Case {
        bool manual;
        DWORD second_wait;
    } cases[] = {{true, WAIT_OBJECT_0}, {false, WAIT_TIMEOUT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.manual ? "manual" : "auto");
        HANDLE initially_set = Event(c.manual, true);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(initially_set, 0));
        EXPECT_EQ(c.second_wait, WaitForSingleObject(initially_set, 0));

        HANDLE h = Event(c.manual);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0));
        ASSERT_TRUE(SetEvent(h));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
        EXPECT_EQ(c.second_wait, WaitForSingleObject(h, 0));
        ASSERT_TRUE(SetEvent(h));
        ASSERT_TRUE(ResetEvent(h));
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0));
    }

    // Wait-any takes only the event it reports.
    HANDLE pair[] = {Event(false, true), Event(false, true)};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, pair, FALSE, 0));
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, pair, FALSE, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(2, pair, FALSE, 0));
}

TEST_F(SyncTest, WaitAllNeedsEveryObjectAndConsumesAutoResetOnlyOnSuccess) {
    HANDLE events[] = {Event(false), Event(true), Event(false)};
    SetEvent(events[0]);
    SetEvent(events[1]);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(3, events, TRUE, 0));
    // The failed wait-all took nothing.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(1, &events[0], TRUE, 0));
    SetEvent(events[0]);

    // A waiter on another thread returns only after the last one is set.
    std::function<DWORD()> waiter = [&] { return WaitForMultipleObjects(3, events, TRUE, kLongWaitMs); };
    HANDLE thread = Keep(StartThread(waiter));
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 50));
    SetEvent(events[2]);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongWaitMs));
    DWORD result = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &result));
    EXPECT_EQ(WAIT_OBJECT_0, result);

    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(events[0], 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events[1], 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(events[2], 0));
}

TEST_F(SyncTest, TimeOutsReturnWaitTimeoutNoSooner) {
    HANDLE events[] = {Event(true), Event(false)};
    for (DWORD ms : {0u, 40u}) {
        for (BOOL all : {FALSE, TRUE}) {
            SCOPED_TRACE(testing::Message() << ms << " ms, wait-all " << all);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(2, events, all, ms));
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms));
        }
    }
}

TEST_F(SyncTest, SetEventWakesAnInfiniteWaitOnAnotherThread) {
    HANDLE go = Event(false);
    std::function<DWORD()> waiter = [&] { return WaitForSingleObject(go, INFINITE); };
    HANDLE thread = Keep(StartThread(waiter));
    ASSERT_NE(nullptr, thread);
    SetEvent(go);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongWaitMs));
    DWORD result = WAIT_FAILED;
    GetExitCodeThread(thread, &result);
    EXPECT_EQ(WAIT_OBJECT_0, result);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(go, 0));  // consumed by the waiter
}

TEST_F(SyncTest, BadHandlesFailWithInvalidHandle) {
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    CloseHandle(closed);
    for (int i = 0; i < 4; ++i) Event(true, true);  // newer handles never revive the closed one
    std::function<DWORD()> body = [] { return DWORD{0}; };
    HANDLE thread = Keep(StartThread(body));
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);

    const struct Case {
        const char* name;
        HANDLE handle;
        bool waitable;
    } cases[] = {
        {"null", nullptr, false},
        {"INVALID_HANDLE_VALUE", INVALID_HANDLE_VALUE, false},
        {"closed", closed, false},
        {"never issued", reinterpret_cast<HANDLE>(uintptr_t{0x7FFFFFF0}), false},
        {"misaligned", reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(m_handles[0]) + 1), false},
        {"thread", thread, true},
        {"device info set", set, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.waitable) {
            SetLastError(kJunkError);
            EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(c.handle, 0));
            EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
            // One bad handle fails the whole wait, even beside a signalled one.
            HANDLE mixed[] = {m_handles[0], c.handle};
            for (BOOL all : {FALSE, TRUE}) {
                SetLastError(kJunkError);
                EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(2, mixed, all, 0));
                EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
            }
        }
        for (BOOL (*call)(HANDLE) : {SetEvent, ResetEvent}) {
            SetLastError(kJunkError);
            EXPECT_FALSE(call(c.handle));
            EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
        }
    }
    for (HANDLE h : {static_cast<HANDLE>(nullptr), closed, INVALID_HANDLE_VALUE}) {
        SetLastError(kJunkError);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    }
    WaitForSingleObject(thread, kLongWaitMs);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SyncTest, BadWaitParametersFailWithInvalidParameter) {
    std::vector<HANDLE> many;
    for (int i = 0; i <= MAXIMUM_WAIT_OBJECTS; ++i) many.push_back(Event(true, true));
    HANDLE twice[] = {many[0], many[0]};
    const struct Case {
        const char* name;
        DWORD count;
        const HANDLE* handles;
        BOOL all;
    } cases[] = {
        {"no handles", 0, many.data(), FALSE},
        {"too many", MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE},
        {"null array", 1, nullptr, FALSE},
        {"duplicate in wait-all", 2, twice, TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kJunkError);
        EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(c.count, c.handles, c.all, 0));
        EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), TRUE, 0));
}

TEST_F(SyncTest, ThreadHandleSignalsAtExitAndOutlivesItsHandle) {
    HANDLE gate = Event(true);
    DWORD id_inside = 0;
    std::function<DWORD()> body = [&] {
        WaitForSingleObject(gate, INFINITE);
        id_inside = GetCurrentThreadId();
        return DWORD{42};
    };
    DWORD id = 0;
    HANDLE thread = Keep(StartThread(body, &id));
    ASSERT_NE(nullptr, thread);
    EXPECT_NE(0u, id);
    EXPECT_NE(GetCurrentThreadId(), id);
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
    EXPECT_NE(0u, GetCurrentThreadId());

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(STILL_ACTIVE, code);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0));
    SetEvent(gate);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongWaitMs));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));  // stays signalled
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(42u, code);
    EXPECT_EQ(id, id_inside);

    // Closing the handle of a running thread does not stop it.
    HANDLE release = Event(true);
    HANDLE done = Event(true);
    std::function<DWORD()> detached = [&] {
        WaitForSingleObject(release, INFINITE);
        SetEvent(done);
        return DWORD{0};
    };
    const size_t before = sim::OpenHandleCount();
    HANDLE short_lived = StartThread(detached);
    ASSERT_NE(nullptr, short_lived);
    EXPECT_TRUE(CloseHandle(short_lived));
    EXPECT_EQ(before, sim::OpenHandleCount());
    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, kLongWaitMs));
}

TEST_F(SyncTest, ThreadPriorityIsStoredAndChecked) {
    HANDLE gate = Event(true);
    std::function<DWORD()> body = [&] { return WaitForSingleObject(gate, kLongWaitMs); };
    HANDLE thread = Keep(StartThread(body));
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(thread));
    for (int priority : {THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_IDLE, THREAD_PRIORITY_LOWEST,
                         THREAD_PRIORITY_HIGHEST}) {
        SCOPED_TRACE(priority);
        EXPECT_TRUE(SetThreadPriority(thread, priority));
        EXPECT_EQ(priority, GetThreadPriority(thread));
    }
    SetLastError(kJunkError);
    EXPECT_FALSE(SetThreadPriority(thread, 7));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, GetThreadPriority(thread));

    HANDLE event = Event(true);
    SetLastError(kJunkError);
    EXPECT_EQ(THREAD_PRIORITY_ERROR_RETURN, GetThreadPriority(event));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    SetLastError(kJunkError);
    EXPECT_FALSE(SetThreadPriority(event, THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    DWORD code = 0;
    SetLastError(kJunkError);
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());

    SetEvent(gate);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongWaitMs));
}

TEST_F(SyncTest, FaultsFailTheNthCallUntilCleared) {
    std::function<DWORD()> body = [] { return DWORD{0}; };
    const struct Case {
        sim::Fault fault;
        HANDLE (*create)(std::function<DWORD()>&);
    } cases[] = {
        // Created set, so the final wait on every kept handle returns at once.
        {sim::Fault::CreateEvent,
         [](std::function<DWORD()>&) { return CreateEventA(nullptr, TRUE, TRUE, nullptr); }},
        {sim::Fault::CreateThread, [](std::function<DWORD()>& f) { return StartThread(f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        sim::FailAfter(c.fault, 2);
        EXPECT_NE(nullptr, Keep(c.create(body)));
        EXPECT_NE(nullptr, Keep(c.create(body)));
        const size_t open = sim::OpenHandleCount();
        for (int i = 0; i < 2; ++i) {
            SetLastError(kJunkError);
            EXPECT_EQ(nullptr, c.create(body));
            EXPECT_EQ(DWORD{ERROR_NOT_ENOUGH_MEMORY}, GetLastError());
        }
        EXPECT_EQ(open, sim::OpenHandleCount());
        sim::ClearFaults();
        EXPECT_NE(nullptr, Keep(c.create(body)));
    }
    // The other call is never affected.
    sim::FailAfter(sim::Fault::CreateThread, 0);
    EXPECT_NE(nullptr, Event(true, true));
    sim::Reset();
    EXPECT_NE(nullptr, Keep(StartThread(body)));
    for (HANDLE h : m_handles) WaitForSingleObject(h, kLongWaitMs);

    SetLastError(kJunkError);
    EXPECT_EQ(nullptr, CreateThread(nullptr, 0, simtest::RunFunction, &body, CREATE_SUSPENDED, nullptr));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
}

TEST_F(SyncTest, AWaitFaultFailsSingleWaitsOnly) {
    HANDLE set = Event(true, true);
    sim::FailAfter(sim::Fault::WaitForSingleObject, 1);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(set, 0));
    SetLastError(kJunkError);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(set, 0));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(1, &set, FALSE, 0));
    sim::ClearFaults();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(set, 0));
}

TEST_F(SyncTest, LastErrorIsPerThread) {
    SetLastError(1234);
    std::function<DWORD()> body = [] {
        const DWORD fresh = GetLastError();
        SetLastError(99);
        return fresh == ERROR_SUCCESS && GetLastError() == 99 ? DWORD{1} : DWORD{0};
    };
    HANDLE thread = Keep(StartThread(body));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongWaitMs));
    DWORD ok = 0;
    GetExitCodeThread(thread, &ok);
    EXPECT_EQ(1u, ok);
    EXPECT_EQ(1234u, GetLastError());
}

TEST_F(SyncTest, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    std::function<DWORD()> try_enter = [&] {
        const BOOL got = TryEnterCriticalSection(&cs);
        if (got) LeaveCriticalSection(&cs);
        return static_cast<DWORD>(got);
    };
    auto other_thread_gets_it = [&] {
        HANDLE thread = StartThread(try_enter);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kLongWaitMs));
        DWORD got = 2;
        GetExitCodeThread(thread, &got);
        CloseHandle(thread);
        return got;
    };

    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));  // the owner re-enters
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EXPECT_EQ(0u, other_thread_gets_it());  // still held once
    LeaveCriticalSection(&cs);
    EXPECT_EQ(1u, other_thread_gets_it());

    // Unsynchronised increments lose none when the section guards them.
    constexpr int kRounds = 20000;
    long counter = 0;
    std::function<DWORD()> add = [&] {
        for (int i = 0; i < kRounds; ++i) {
            EnterCriticalSection(&cs);
            counter = counter + 1;
            LeaveCriticalSection(&cs);
        }
        return DWORD{0};
    };
    HANDLE threads[] = {StartThread(add), StartThread(add)};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, kLongWaitMs));
    for (HANDLE h : threads) CloseHandle(h);
    EXPECT_EQ(2L * kRounds, counter);
    DeleteCriticalSection(&cs);
}

TEST_F(SyncTest, InterlockedExchangeAddReturnsTheOldValueAndLosesNoUpdate) {
    const struct Case {
        LONG start;
        LONG add;
        LONG after;
    } cases[] = {
        {5, 3, 8},
        {8, -10, -2},
        {INT32_MAX, 1, INT32_MIN},  // wraps like the hardware
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " + " << c.add);
        volatile LONG value = c.start;
        EXPECT_EQ(c.start, InterlockedExchangeAdd(&value, c.add));
        EXPECT_EQ(c.after, static_cast<LONG>(value));
    }

    constexpr int kRounds = 100000;
    volatile LONG shared = 0;
    std::function<DWORD()> add = [&] {
        for (int i = 0; i < kRounds; ++i) InterlockedExchangeAdd(&shared, 1);
        return DWORD{0};
    };
    HANDLE threads[] = {StartThread(add), StartThread(add)};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, kLongWaitMs));
    for (HANDLE h : threads) CloseHandle(h);
    EXPECT_EQ(2 * kRounds, static_cast<LONG>(shared));
}

}  // namespace
