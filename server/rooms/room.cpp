#include "rooms/room.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "model/json_writer.h"
#include "rooms/message_rules.h"
#include "rooms/relay_text.h"

namespace vellumora::server {

namespace {
Payload encodeShared(const ServerMessage& message) {
    auto text = encode(message);
    return text ? std::make_shared<const std::string>(std::move(*text)) : nullptr;
}

// A relay usually leaves every queue before its thread reads on: a few texts cover the thread.
constexpr std::size_t kReusedPayloads = 8;
constexpr std::size_t kReusedPayloadBytes = 16 * 1024;

// An empty text for the next relay: one of the thread's last relays' once every queue has let go
// of it, so that most messages cost neither an allocation nor a copy. Kept by the thread, not by
// each room, so that the text written is one the thread wrote a moment ago, still in cache.
std::shared_ptr<std::string> reusedPayload() {
    thread_local std::vector<std::shared_ptr<std::string>> payloads;
    for (std::shared_ptr<std::string>& text : payloads) {
        if (text.use_count() != 1) continue;
        // The queues' last reads of it happened before their release of it.
        std::atomic_thread_fence(std::memory_order_acquire);
        // A rare large relay must not pin its memory to the thread.
        if (text->capacity() > kReusedPayloadBytes) text = std::make_shared<std::string>();
        text->clear();
        return text;
    }
    auto text = std::make_shared<std::string>();
    if (payloads.size() < kReusedPayloads) payloads.push_back(text);
    return text;
}

WirePeer peerOf(const RoomMember& member) {
    return {member.user().id, member.user().displayName, member.color()};
}

Payload shared(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

// A room_state without strokes and page, cut where they go: what comes before the strokes,
// between them and the page, and after it.
std::array<Payload, 3> roomStateFrame(const RoomStateMessage& state) {
    const std::string text = encode(ServerMessage{state}).value_or("");
    const auto strokes = text.find("[]");
    const auto page = text.rfind("null");
    static const Payload head = shared(text.substr(0, strokes));
    static const Payload tail = shared(text.substr(page + 4));
    return {head, shared(text.substr(strokes + 2, page - strokes - 2)), tail};
}
}  // namespace

Room::Room(std::string id, StoredRoom stored, HistoryWriter& writer, Metrics& metrics,
           std::size_t maxConnections)
    : key_(stored.key),
      lease_(stored.lease),
      writer_(writer),
      history_(std::move(stored)),
      id_(std::move(id)),
      metrics_(metrics),
      maxConnections_(maxConnections) {
    reportedBytes_ = history_.bytesAtMost();
    metrics_.rooms.fetch_add(1, std::memory_order_relaxed);
    metrics_.historyBytes.fetch_add(static_cast<std::int64_t>(reportedBytes_), std::memory_order_relaxed);
}

Room::~Room() {
    writer_.release(key_, lease_);
    metrics_.rooms.fetch_sub(1, std::memory_order_relaxed);
    metrics_.historyBytes.fetch_sub(static_cast<std::int64_t>(reportedBytes_), std::memory_order_relaxed);
}

void Room::publishLocked(const Payload& payload, const RoomMember* except, Wake& wake) {
    for (const Present& p : members_) {
        if (p.member == except) continue;
        if (auto member = p.alive.lock(); member && member->enqueue({&payload, 1}))
            wake.push_back(std::move(member));
    }
}

void Room::send(Wake& wake) {
    for (const auto& member : wake) member->send();
    wake.clear();
}

bool Room::join(const std::shared_ptr<RoomMember>& member) {
    Wake wake;
    {
        Lock lock(mutex_);
        if (members_.size() >= maxConnections_) return false;

        RoomStateMessage state;
        state.peers.reserve(members_.size());
        for (const Present& p : members_) {
            if (auto m = p.alive.lock()) state.peers.push_back(peerOf(*m));
        }
        state.you.userId = member->user().id;
        // Joins share the history's text: a crowd of them costs one copy of the page, not one each.
        if (!strokesText_) strokesText_ = shared(history_.strokesJson());
        if (!pageText_) pageText_ = shared(history_.pageJson());
        const auto [head, middle, tail] = roomStateFrame(state);
        const Payload parts[] = {head, strokesText_, middle, pageText_, tail};
        if (member->enqueue(parts)) wake.push_back(member);
        if (Payload joined = encodeShared(PeerJoinedMessage{peerOf(*member)}))
            publishLocked(joined, nullptr, wake);
        members_.push_back({member.get(), member});
    }
    send(wake);
    return true;
}

void Room::leave(const RoomMember& member) {
    Wake wake;
    {
        Lock lock(mutex_);
        auto it = std::find_if(members_.begin(), members_.end(),
                               [&](const Present& p) { return p.member == &member; });
        if (it == members_.end()) return;
        members_.erase(it);
        if (Payload left = encodeShared(PeerLeftMessage{member.user().id}))
            publishLocked(left, nullptr, wake);
    }
    send(wake);
}

void Room::sendAway(const char* reason) {
    std::vector<std::shared_ptr<RoomMember>> present;
    {
        Lock lock(mutex_);
        for (const Present& p : members_) {
            if (auto m = p.alive.lock()) present.push_back(std::move(m));
        }
    }
    for (const auto& m : present) m->goAway(reason);
}

void Room::handle(RoomMember& sender, std::string_view bytes) {
    // The last stroke_point read on this thread is read over: its id's buffer serves the next.
    thread_local ClientMessage plainRead;
    std::optional<ClientMessage> decoded;
    const bool plain = readPlainStrokePoint(bytes, plainRead);
    if (plain) {
        // A stroke_point's rules, without a dispatch on the kind; its read refuses a negative
        // zero, so there is none to fold.
        const auto& point = *std::get_if<ClientMessage::StrokePoint>(&plainRead.value);
        if (!saneStrokeId(point.strokeId) || !sanePoint(point.point)) {
            metrics_.messagesDropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    } else {
        decoded = decodeClientMessage(bytes);
        if (!decoded || !saneMessage(*decoded)) {
            metrics_.messagesDropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        foldNegativeZero(*decoded);
    }
    ClientMessage* const message = plain ? &plainRead : &*decoded;
    const std::string& userId = sender.user().id;

    // Reused, by the thread rather than the room, so that they are in cache: a relay usually
    // wakes one member and records one change, and no allocation is needed for that.
    thread_local Wake wake;
    thread_local std::vector<RoomHistory::Change> changes;
    {
        Lock lock(mutex_);
        changes.clear();
        RoomMember::Memo& memo = sender.memo_;
        const bool accepted = history_.apply(*message, userId, changes, memo.openStroke);
        if (!changes.empty()) strokesText_.reset();
        if (accepted && std::holds_alternative<ClientMessage::SetPage>(message->value)) pageText_.reset();
        for (RoomHistory::Change& change : changes) writer_.push(HistoryOp{key_, std::move(change)});
        const std::size_t bytesNow = history_.bytesAtMost();
        if (bytesNow != reportedBytes_) {
            metrics_.historyBytes.fetch_add(
                static_cast<std::int64_t>(bytesNow) - static_cast<std::int64_t>(reportedBytes_),
                std::memory_order_relaxed);
            reportedBytes_ = bytesNow;
        }
        if (!accepted) {
            metrics_.messagesDropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        std::shared_ptr<std::string> encoded = reusedPayload();
        if (memo.userIdJson.empty()) json::Writer(memo.userIdJson).string(userId);
        const RoomMember* skipped = &sender;
        if (plain) {
            relayPlainStrokePoint(bytes, memo.userIdJson, *encoded);
        } else if (!relayFromBytes(bytes, *message, memo.userIdJson, *encoded)) {
            ServerMessage relayed = relayedFrom(*message, userId);
            if (const auto* redo = std::get_if<StrokeRedoMessage>(&relayed))
                relayed = history_.redone(redo->strokeId, userId);
            if (!encodeInto(relayed, *encoded)) return;
            // Undo and redo go to the author's connections too: the room's order places them.
            if (std::holds_alternative<StrokeUndoMessage>(relayed) ||
                std::holds_alternative<StrokeRedoMessage>(relayed))
                skipped = nullptr;
        }
        publishLocked(Payload(std::move(encoded)), skipped, wake);  // moved: no count to change
    }
    send(wake);
}

}  // namespace vellumora::server
