#pragma once
// The process-wide parts every connection reaches: configuration, storage, accounts,
// rooms and counters. Owned by Server; connections hold a reference while it lives.

#include "account_api.h"
#include "metrics.h"
#include "presence.h"
#include "server_config.h"
#include "store.h"

namespace vellumora::server {

class RoomRegistry;

struct ServerContext {
    const ServerConfig& config;
    Store& store;
    Presence& presence;
    Metrics& metrics;
    AccountApi& accounts;
    RoomRegistry& rooms;
};

}  // namespace vellumora::server
