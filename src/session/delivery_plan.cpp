#include "session/delivery_plan.h"

#include <QUuid>

#include <variant>

namespace vellumora {

namespace {

const std::string* strokeIdOf(const ClientMessage& message) {
    if (const auto* start = std::get_if<ClientMessage::StrokeStart>(&message.value)) return &start->stroke.id;
    if (const auto* point = std::get_if<ClientMessage::StrokePoint>(&message.value)) return &point->strokeId;
    if (const auto* end = std::get_if<ClientMessage::StrokeEnd>(&message.value)) return &end->strokeId;
    return nullptr;
}

// How much of one of the user's strokes the server holds, following its continuations.
struct Fate {
    bool held = false;
    bool complete = false;
    std::uint32_t covered = 0;  // ordinals below this are on the server
    std::string wireId;         // where the rest goes
    const Stroke* last = nullptr;
    bool startPending = false;  // not held: its start is in the journal, so all of it can go
    bool restarted = false;
};

Fate fateOf(const std::string& id, const std::map<std::string, const Stroke*>& room) {
    Fate fate;
    fate.wireId = id;
    auto it = room.find(id);
    if (it == room.end() || it->second->points.empty()) return fate;
    fate.held = true;
    const Stroke* stroke = it->second;
    std::size_t covered = stroke->points.size();
    fate.complete = stroke->complete;
    for (std::string current = id;;) {
        const std::string next = continuationId(current, stroke->points.size());
        it = room.find(next);
        if (it == room.end() || it->second->points.empty()) {
            fate.wireId = next;
            break;
        }
        // A continuation starts on the last point held before it.
        stroke = it->second;
        covered += stroke->points.size() - 1;
        fate.complete = fate.complete || stroke->complete;
        current = next;
    }
    fate.covered = static_cast<std::uint32_t>(covered);
    fate.last = stroke;
    return fate;
}

}  // namespace

std::string continuationId(const std::string& id, std::size_t points) {
    static const QUuid kNamespace(QStringLiteral("{5b0f6e7c-1d2a-4c8e-9a31-7e4d2c9b8f10}"));
    return QUuid::createUuidV5(kNamespace, QString::fromStdString(id + '/' + std::to_string(points)))
        .toString(QUuid::WithoutBraces)
        .toUpper()
        .toStdString();
}

DeliveryPlan planDelivery(const std::deque<PendingWorkJournal::Entry>& journal,
                          const std::vector<Stroke>& room, const std::optional<WirePage>& roomPage) {
    std::map<std::string, const Stroke*> held;
    for (const Stroke& stroke : room) held.emplace(stroke.id, &stroke);

    struct Kept {
        std::size_t index;
        Outgoing out;
        bool missingPoint;  // of a stroke the server holds part of
    };
    DeliveryPlan plan;
    std::map<std::string, Fate> fates;
    std::vector<Kept> kept;
    std::optional<std::size_t> lastHeld;  // the last entry the server shows it holds
    for (std::size_t i = 0; i < journal.size(); ++i) {
        const PendingWorkJournal::Entry& entry = journal[i];
        const Outgoing out{entry.seq, entry.message};
        const std::string* id = strokeIdOf(entry.message);
        if (!id) {
            kept.push_back({i, out, false});
            continue;
        }
        auto [it, added] = fates.try_emplace(*id);
        Fate& fate = it->second;
        if (added) fate = fateOf(*id, held);
        const bool isStart = std::holds_alternative<ClientMessage::StrokeStart>(entry.message.value);
        const bool isEnd = std::holds_alternative<ClientMessage::StrokeEnd>(entry.message.value);
        if (!fate.held) {
            // Without its start in the journal the server had the stroke and no longer has it
            // (cleared, or trimmed from a full history): the rest would be refused anyway.
            fate.startPending = fate.startPending || isStart;
            if (fate.startPending) kept.push_back({i, out, false});
            continue;
        }
        if (fate.complete || isStart || (!isEnd && entry.ordinal < fate.covered)) {
            lastHeld = i;
            continue;
        }
        // Every point is there but the end: the server shows the stroke the same way open.
        if (isEnd && !fate.restarted) continue;
        if (!fate.restarted) {
            fate.restarted = true;
            plan.wireIds[*id] = fate.wireId;
            const Stroke& from = *fate.last;
            kept.push_back({i,
                            {0, ClientMessage::strokeStart({*id, from.userId, from.tool, from.color,
                                                            from.brushSize, from.points.back()})},
                            true});
        }
        kept.push_back({i, out, true});
    }

    for (Kept& k : kept) {
        // One connection delivers in order: what came before something the server holds, it read.
        if (!k.missingPoint && lastHeld && k.index < *lastHeld) continue;
        const auto* page = std::get_if<ClientMessage::SetPage>(&k.out.message.value);
        if (page && page->page == roomPage) continue;
        plan.messages.push_back(std::move(k.out));
    }
    return plan;
}

void applyOwnMessages(const std::vector<Outgoing>& messages, const std::string& userId,
                      std::vector<Stroke>& strokes, std::optional<WirePage>& page) {
    const auto find = [&strokes](const std::string& id) -> Stroke* {
        for (auto it = strokes.rbegin(); it != strokes.rend(); ++it)
            if (it->id == id) return &*it;
        return nullptr;
    };
    for (const Outgoing& out : messages) {
        const ClientMessage::Value& value = out.message.value;
        if (const auto* start = std::get_if<ClientMessage::StrokeStart>(&value)) {
            const StrokeStartPayload& s = start->stroke;
            strokes.push_back({s.id, userId, s.tool, s.color, s.brushSize, {s.point}, false});
        } else if (const auto* point = std::get_if<ClientMessage::StrokePoint>(&value)) {
            if (Stroke* stroke = find(point->strokeId)) stroke->points.push_back(point->point);
        } else if (const auto* end = std::get_if<ClientMessage::StrokeEnd>(&value)) {
            if (Stroke* stroke = find(end->strokeId)) stroke->complete = true;
        } else if (const auto* set = std::get_if<ClientMessage::SetPage>(&value)) {
            page = set->page;
        } else if (std::holds_alternative<ClientMessage::ClearCanvas>(value)) {
            strokes.clear();
        }
    }
}

}  // namespace vellumora
