#pragma once
// The process-wide parts every connection reaches: configuration, storage, accounts,
// rooms, the disk pool and counters. Owned by Server; connections hold a reference while it
// lives.

#include "accounts/account_api.h"
#include "common/metrics.h"
#include "common/presence.h"
#include "common/server_config.h"
#include "common/work_pool.h"
#include "rooms/open_sessions.h"
#include "rooms/room_registry.h"
#include "store/history_writer.h"
#include "store/store.h"
#include "websocket/byte_budget.h"

namespace vellumora::server {

struct ServerContext {
    const ServerConfig& config;
    Store& store;
    Presence& presence;
    Metrics& metrics;
    AccountApi& accounts;
    RoomRegistry& rooms;
    HistoryWriter& writer;
    WorkPool& disk;
    ByteBudget& input;
    UserShares& inputShares;
    ByteBudget& output;
    OpenSessions& sessions;
};

}  // namespace vellumora::server
