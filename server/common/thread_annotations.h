#pragma once
// Clang's thread-safety analysis (-Wthread-safety): which mutex guards which member, checked at
// compile time. Other compilers see plain std::mutex and std::lock_guard.

#include <mutex>

#if defined(__clang__)
#define VELLUMORA_TSA(x) __attribute__((x))
#else
#define VELLUMORA_TSA(x)
#endif

#define CAPABILITY(x) VELLUMORA_TSA(capability(x))
#define SCOPED_CAPABILITY VELLUMORA_TSA(scoped_lockable)
#define GUARDED_BY(x) VELLUMORA_TSA(guarded_by(x))
#define REQUIRES(...) VELLUMORA_TSA(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VELLUMORA_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELLUMORA_TSA(release_capability(__VA_ARGS__))
#define EXCLUDES(...) VELLUMORA_TSA(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS VELLUMORA_TSA(no_thread_safety_analysis)

namespace vellumora::server {

class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }

  private:
    std::mutex m_;
};

class SCOPED_CAPABILITY Lock {
  public:
    explicit Lock(Mutex& m) ACQUIRE(m) : m_(m) { m_.lock(); }
    ~Lock() RELEASE() { m_.unlock(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    Mutex& m_;
};

// Locks only when `shared`: state that, in some configurations, only one thread ever touches
// skips the atomic operations of an uncontended lock. The analysis treats it as always held.
class SCOPED_CAPABILITY LockIfShared {
  public:
    LockIfShared(Mutex& m, bool shared) ACQUIRE(m) NO_THREAD_SAFETY_ANALYSIS : m_(shared ? &m : nullptr) {
        if (m_) m_->lock();
    }
    ~LockIfShared() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
        if (m_) m_->unlock();
    }
    LockIfShared(const LockIfShared&) = delete;
    LockIfShared& operator=(const LockIfShared&) = delete;

  private:
    Mutex* m_;
};

}  // namespace vellumora::server
