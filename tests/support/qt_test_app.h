#pragma once
// One QApplication for every GoogleTest executable that needs Qt, and ways to let its event loop
// run until something happens.

#include <QApplication>
#include <chrono>
#include <functional>

namespace vellumora::testing {

// Created on first use, lives until the process ends. Without a display it runs offscreen.
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

}  // namespace vellumora::testing
