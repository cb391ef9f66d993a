// Fails the plug-in's non-throwing allocations on demand. The test program
// that links alloc_hook.cpp replaces the global operator new and delete; only
// the nothrow forms, the ones the plug-in uses, are ever failed.
#pragma once

namespace test {

// The next `successes` nothrow allocations succeed, every later one fails,
// until DisarmAllocationFailure.
void FailNothrowAllocationsAfter(int successes);
void DisarmAllocationFailure();
// Nothrow allocations made since the last arming.
int NothrowAllocations();

}  // namespace test
