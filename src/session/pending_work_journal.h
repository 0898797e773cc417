#pragma once
// The strokes, page changes and clears a user made in one room that the server has not yet
// confirmed, kept on disk per server, user and room, so that neither a lost connection nor
// quitting nor a crash loses them. Every message is written here before it is sent; the
// server's receipts remove them from the front. What is kept is bounded by what the room's
// history can hold.
//
// The file is a line per record, appended and never rewritten in place: the room's name,
// then a message ("M seq ordinal json") or a receipt ("C seq"). A record a crash cut short is
// dropped when the file is read again.

#include <QFile>
#include <QLockFile>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "model/protocol.h"

namespace vellumora {

class PendingWorkJournal {
  public:
    struct Entry {
        std::uint64_t seq = 0;
        ClientMessage message;
        // A stroke message's place in its stroke: 0 for the start, n for its n-th further point.
        std::uint32_t ordinal = 0;
        std::size_t bytes = 0;  // of its JSON
    };
    enum class Append { kept, overBudget, notWritten };

    // Where the journals of `userId` on the server at `origin` live under `directory`, and the
    // one of `roomId` among them.
    static QString userDirectory(const QString& directory, const QUrl& origin, const QString& userId);
    static QString pathFor(const QString& directory, const QUrl& origin, const QString& userId,
                           const QString& roomId);
    // The application's own directory for them ($XDG_DATA_HOME/vellumora/pending).
    static QString defaultDirectory();

    // Opens the journal at `path`, creating it, with what an earlier run left in it. Messages
    // beyond `budgetBytes` of JSON are not kept (a stroke's end always is, so strokes close).
    explicit PendingWorkJournal(QString path, std::size_t budgetBytes = kMaxMessageBytes);
    ~PendingWorkJournal();
    PendingWorkJournal(const PendingWorkJournal&) = delete;
    PendingWorkJournal& operator=(const PendingWorkJournal&) = delete;

    // The room's name as shown, kept for offering the room again at the next launch.
    void setRoomName(const QString& name);
    QString roomName() const { return roomName_; }
    // What went wrong with the file, if anything (another app holds it, the disk refused).
    const QString& error() const { return error_; }

    // Writes `message` before it may be sent.
    Append append(const ClientMessage& message, std::uint32_t ordinal);
    // The server has read every message up to `seq`.
    void confirm(std::uint64_t seq);

    // Unconfirmed messages, oldest first.
    const std::deque<Entry>& entries() const { return entries_; }
    std::size_t bytes() const { return bytes_; }

  private:
    void read();
    bool rewrite();
    bool write(const QByteArray& line);

    QString path_;
    std::size_t budgetBytes_;
    std::unique_ptr<QLockFile> lock_;
    QFile file_;
    QString roomName_;
    QString error_;
    std::deque<Entry> entries_;
    std::size_t bytes_ = 0;
    std::uint64_t nextSeq_ = 1;
};

// The room name a journal at `path` was written with, without opening it for writing; none
// when there is no such journal or nothing waits in it.
std::optional<QString> pendingRoomName(const QString& path);

}  // namespace vellumora
