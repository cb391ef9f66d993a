// Waiting on a condition in tests: polls until it holds or a generous time-out
// passes, so a fault fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <thread>

namespace test {

constexpr std::chrono::seconds kWaitTimeout{20};

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout = kWaitTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) return predicate();
        std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace test
