#pragma once
// What the user sends to the room, in order and without loss: every stroke, page change and
// clear is written to the room's journal first, handed to the connection once the room is live
// (its room_state has arrived), and forgotten once the server confirms it has read it. After a
// reconnect the journal is delivered again, less what the room's state shows the server holds.
// A backlog goes out at a steady rate below the server's limit of messages per connection,
// with live drawing queued behind it.

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/delivery_plan.h"
#include "session/pending_work_journal.h"

namespace vellumora {

class NetworkClient;

class RoomOutbox : public QObject {
    Q_OBJECT

  public:
    // A backlog is sent this many messages at a time, kTick apart (600 a second): the server
    // takes 1000 a second per connection by default and drops the rest.
    static constexpr std::size_t kMessagesPerTick = 30;
    static constexpr std::chrono::milliseconds kTick{50};
    // How soon after sending the server is asked to confirm.
    static constexpr std::chrono::milliseconds kReceiptDelay{250};

    enum class Loss { none, overBudget, notWritten };

    explicit RoomOutbox(NetworkClient& network, QObject* parent = nullptr);
    ~RoomOutbox() override;

    // Takes the room's journal (what an earlier run left waits in it); none: nothing is kept.
    void open(std::unique_ptr<PendingWorkJournal> journal);
    void close();

    // A stroke, page or clear: kept, then sent in order once the room is live.
    void send(const ClientMessage& message);
    // The room's state arrived on the current connection: delivery starts with what the
    // server does not hold yet. Returns it, for the canvas to show on top of the room.
    std::vector<Outgoing> roomStateArrived(const std::vector<Stroke>& strokes,
                                           const std::optional<WirePage>& page);
    // The connection ended: everything waits for the next room state.
    void connectionLost();

    bool isLive() const { return live_; }
    // Messages the server has not confirmed yet.
    std::size_t waiting() const { return journal_ ? journal_->entries().size() : 0; }
    // Why something the user made in this room could not be kept, since it was entered.
    Loss loss() const { return loss_; }
    // What the file system said when the journal could not be written.
    QString journalError() const { return journal_ ? journal_->error() : QString(); }

  signals:
    // waiting() or loss() changed.
    void changed();

  private:
    void pump();
    void sendNow(const Outgoing& out);
    std::uint32_t ordinalOf(const ClientMessage& message);

    NetworkClient& network_;
    std::unique_ptr<PendingWorkJournal> journal_;
    bool live_ = false;
    std::deque<Outgoing> queue_;  // not yet handed to the live connection
    std::map<std::string, std::string> wireIds_;
    std::map<std::string, std::uint32_t> pointsSoFar_;  // of the user's open strokes
    std::uint64_t lastSent_ = 0;
    std::size_t sentThisTick_ = 0;
    Loss loss_ = Loss::none;
    QTimer tick_;
    QTimer receiptTimer_;
};

}  // namespace vellumora
