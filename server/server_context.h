#pragma once
// The process-wide parts every connection reaches: configuration, storage, accounts,
// rooms and counters. Owned by Server; connections hold a reference while it lives.

#include "accounts/account_api.h"
#include "common/metrics.h"
#include "common/presence.h"
#include "common/server_config.h"
#include "store/store.h"

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
