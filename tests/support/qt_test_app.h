#pragma once
// One QApplication for every GoogleTest executable that needs Qt, and ways to let its event loop
// run until something happens.

#include <QApplication>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace vellumora::testing {

// Created on first use, by the test main before any test. Without a display it runs offscreen.
QApplication& testApp();

// Put first among a fixture's members, so the application exists before any QObject member.
struct TestAppScope {
    TestAppScope() { testApp(); }
};

// Runs the event loop until the predicate holds; false when the time ran out first.
bool runUntil(const std::function<bool()>& predicate,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Runs the event loop for the given time.
void runFor(std::chrono::milliseconds duration);

// Calls start(done) and runs the event loop until done() has been called.
bool await(const std::function<void(std::function<void()> done)>& start,
           std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Runs an asynchronous call to its end: start(report) must call report once with the result.
// None when the time ran out first.
template <class Result, class Start>
std::optional<Result> resultOf(Start&& start,
                               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    auto result = std::make_shared<std::optional<Result>>();
    std::forward<Start>(start)([result](Result r) { result->emplace(std::move(r)); });
    runUntil([&result] { return result->has_value(); }, timeout);
    return *result;
}

}  // namespace vellumora::testing
