#include "session/room_outbox.h"

#include "net/network_client.h"

#include <variant>

namespace vellumora {

namespace {

std::string* strokeIdIn(ClientMessage& message) {
    if (auto* start = std::get_if<ClientMessage::StrokeStart>(&message.value)) return &start->stroke.id;
    if (auto* point = std::get_if<ClientMessage::StrokePoint>(&message.value)) return &point->strokeId;
    if (auto* end = std::get_if<ClientMessage::StrokeEnd>(&message.value)) return &end->strokeId;
    return nullptr;
}

}  // namespace

RoomOutbox::RoomOutbox(NetworkClient& network, QObject* parent) : QObject(parent), network_(network) {
    tick_.setInterval(kTick);
    QObject::connect(&tick_, &QTimer::timeout, this, [this] {
        sentThisTick_ = 0;
        pump();
        if (sentThisTick_ == 0) tick_.stop();
    });
    receiptTimer_.setSingleShot(true);
    receiptTimer_.setInterval(kReceiptDelay);
    QObject::connect(&receiptTimer_, &QTimer::timeout, this, [this] {
        if (live_ && lastSent_ > 0) network_.requestReceipt(lastSent_);
    });
    QObject::connect(&network_, &NetworkClient::receipt, this, [this](quint64 seq) {
        if (!journal_) return;
        journal_->confirm(seq);
        emit changed();
    });
}

RoomOutbox::~RoomOutbox() = default;

void RoomOutbox::open(std::unique_ptr<PendingWorkJournal> journal) {
    close();
    journal_ = std::move(journal);
    loss_ = Loss::none;
    emit changed();
}

void RoomOutbox::close() {
    connectionLost();
    journal_.reset();
    wireIds_.clear();
    pointsSoFar_.clear();
    lastSent_ = 0;
    emit changed();
}

std::uint32_t RoomOutbox::ordinalOf(const ClientMessage& message) {
    if (const auto* start = std::get_if<ClientMessage::StrokeStart>(&message.value)) {
        pointsSoFar_[start->stroke.id] = 0;
    } else if (const auto* point = std::get_if<ClientMessage::StrokePoint>(&message.value)) {
        return ++pointsSoFar_[point->strokeId];
    } else if (const auto* end = std::get_if<ClientMessage::StrokeEnd>(&message.value)) {
        pointsSoFar_.erase(end->strokeId);
    }
    return 0;
}

void RoomOutbox::send(const ClientMessage& message) {
    const std::uint32_t ordinal = ordinalOf(message);
    const auto kept = journal_ ? journal_->append(message, ordinal) : PendingWorkJournal::Append::notWritten;
    if (kept == PendingWorkJournal::Append::kept) {
        queue_.push_back({journal_->entries().back().seq, message});
        emit changed();
        pump();
        return;
    }
    // Not kept, it still goes out when nothing waits before it: only a connection lost now
    // would lose it.
    if (live_ && queue_.empty()) {
        sendNow({0, message});
        return;
    }
    loss_ = kept == PendingWorkJournal::Append::overBudget ? Loss::overBudget : Loss::notWritten;
    emit changed();
}

std::vector<Outgoing> RoomOutbox::roomStateArrived(const std::vector<Stroke>& strokes,
                                                   const std::optional<WirePage>& page) {
    connectionLost();
    live_ = true;
    if (!journal_) return {};
    DeliveryPlan plan = planDelivery(journal_->entries(), strokes, page);
    wireIds_ = std::move(plan.wireIds);
    queue_.assign(plan.messages.begin(), plan.messages.end());
    pump();
    return std::move(plan.messages);
}

void RoomOutbox::connectionLost() {
    live_ = false;
    queue_.clear();
    tick_.stop();
    receiptTimer_.stop();
    sentThisTick_ = 0;
}

void RoomOutbox::pump() {
    if (!live_) return;
    while (!queue_.empty() && sentThisTick_ < kMessagesPerTick) {
        sendNow(queue_.front());
        queue_.pop_front();
        ++sentThisTick_;
    }
    if (sentThisTick_ > 0 && !tick_.isActive()) tick_.start();
}

void RoomOutbox::sendNow(const Outgoing& out) {
    ClientMessage message = out.message;
    if (std::string* id = strokeIdIn(message)) {
        if (const auto it = wireIds_.find(*id); it != wireIds_.end()) *id = it->second;
    }
    network_.send(message);
    if (out.seq > 0) lastSent_ = out.seq;
    if (!receiptTimer_.isActive()) receiptTimer_.start();
}

}  // namespace vellumora
