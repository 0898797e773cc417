#pragma once
// A throw-away PostgreSQL server for tests: initdb in a temporary directory, reached through
// a Unix socket there, stopped and deleted on destruction. PostgreSQL refuses to run as root, so
// under root (as in CI) it runs as `nobody`, in a directory that user owns.

#include <sys/types.h>

#include <string>

namespace vellumora::testing {

class PostgresInstance {
  public:
    // Throws std::runtime_error (with PostgreSQL's log) when it cannot start.
    PostgresInstance();
    ~PostgresInstance();
    PostgresInstance(const PostgresInstance&) = delete;
    PostgresInstance& operator=(const PostgresInstance&) = delete;

    // A new, empty database; returns its postgresql:// URL.
    std::string createDatabase();
    // Runs one statement on the database at `url` as a superuser; throws when it fails.
    static void execute(const std::string& url, const std::string& sql);

    // The instance of this test process, started on first use when the environment asks
    // for the PostgreSQL store (VELLUMORA_TEST_STORE=postgresql); null otherwise.
    static PostgresInstance* shared();

  private:
    std::string dir_;
    pid_t pid_ = -1;
    int databases_ = 0;
};

}  // namespace vellumora::testing
