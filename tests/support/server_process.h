#pragma once
// Runs the real vellumora-server binary for a test: a free loopback port, a database in a
// temporary directory the fixture owns, SIGTERM and clean-up on destruction.

#include <sys/types.h>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vellumora::testing {

// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
// Starts `args` with stderr appended to `logPath` and stdout discarded; throws when it cannot.
pid_t spawnLogged(std::vector<std::string> args, const std::string& logPath);

class ServerProcess {
  public:
    struct Options {
        std::vector<std::string> extraArgs{};  // e.g. {"--auth-rate-limit", "0"}
        std::string dbPath{};                  // empty: a fresh database in a temp dir owned by the fixture
    };

    // Starts the server on a free port and waits until it accepts requests; throws
    // std::runtime_error on failure.
    // (Two constructors rather than a default argument: GCC cannot use the nested struct's
    // member initialisers before the enclosing class is complete.)
    ServerProcess();
    explicit ServerProcess(Options options);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    std::uint16_t port() const { return port_; }
    // Where /metrics is served.
    std::uint16_t metricsPort() const { return metricsPort_; }
    std::string baseUrl() const;  // "http://127.0.0.1:<port>" ("https" when started with --tls-cert)
    // The running server's process id (-1 while stopped).
    pid_t pid() const { return pid_; }

    // Sends the signal and waits for the process to exit.
    void stop(int signal = SIGTERM);
    // The wait status of the last stop (as from waitpid); -1 before any.
    int exitStatus() const { return exitStatus_; }
    // (Re)starts with the same database and the same port.
    void start();
    // Everything the server wrote to stderr so far.
    std::string log() const;

    // What servers started without a dbPath get as --db: by default a new SQLite file in the
    // fixture's directory; a test binary may hand out databases of another store instead.
    static void setDatabaseFactory(std::function<std::string()> factory);

  private:
    Options options_;
    std::string tempDir_;
    std::string dbPath_;
    std::string logPath_;
    std::uint16_t port_ = 0;
    std::uint16_t metricsPort_ = 0;
    std::string scheme_ = "http";
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

// A real server shared by the tests of a fixture, which may sign up as often as they like.
// One I/O thread: the tests with a server of their own run the default.
class SharedServer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server() = std::make_unique<ServerProcess>(ServerProcess::Options{
            {"--auth-rate-limit", "0", "--message-rate-limit", "0", "--threads", "1"}});
    }
    static void TearDownTestSuite() { server().reset(); }
    static std::uint16_t port() { return server()->port(); }
    static std::unique_ptr<ServerProcess>& server() {
        static std::unique_ptr<ServerProcess> running;
        return running;
    }
};

}  // namespace vellumora::testing
