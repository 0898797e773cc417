#pragma once
// The whole service in one object: storage, accounts, rooms, the listener and the I/O
// threads. run() serves until SIGINT or SIGTERM, then stores everything and returns.

#include <memory>

#include "common/server_config.h"

namespace vellumora::server {

class Server {
  public:
    explicit Server(ServerConfig config);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The process exit code.
    int run();

  private:
    struct Parts;
    ServerConfig config_;
    std::unique_ptr<Parts> parts_;
};

}  // namespace vellumora::server
