#include "session/pending_work_journal.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <unistd.h>

#include <string>
#include <string_view>

namespace vellumora {

namespace {

constexpr char kMagic[] = "vellumora pending 1";

QString component(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QByteArray header(const QString& roomName) {
    return QByteArray(kMagic) + ' ' + QUrl::toPercentEncoding(roomName) + '\n';
}

struct Parsed {
    QString roomName;
    std::deque<PendingWorkJournal::Entry> entries;
    std::uint64_t lastSeq = 0;
    bool clean = true;  // nothing to drop, no receipts to fold
};

// Reads records until the first one that is cut short or damaged: nothing after it was written
// in order, so nothing after it is trusted.
Parsed parse(const QByteArray& bytes) {
    Parsed parsed;
    qsizetype start = 0;
    bool first = true;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) {
            parsed.clean = false;
            break;
        }
        const QByteArray line = bytes.mid(start, end - start);
        start = end + 1;
        if (first) {
            first = false;
            if (!line.startsWith(kMagic)) {
                parsed.clean = false;
                break;
            }
            parsed.roomName = QUrl::fromPercentEncoding(line.mid(qsizetype(sizeof(kMagic))));
            continue;
        }
        const QList<QByteArray> fields = line.split(' ');
        bool ok = false;
        if (line.startsWith("C ") && fields.size() == 2) {
            const std::uint64_t seq = fields[1].toULongLong(&ok);
            if (!ok) break;
            while (!parsed.entries.empty() && parsed.entries.front().seq <= seq) parsed.entries.pop_front();
            parsed.clean = false;
            continue;
        }
        if (!line.startsWith("M ") || fields.size() < 4) {
            parsed.clean = false;
            break;
        }
        bool ordinalOk = false;
        const std::uint64_t seq = fields[1].toULongLong(&ok);
        const std::uint32_t ordinal = fields[2].toUInt(&ordinalOk);
        const qsizetype jsonStart = fields[0].size() + fields[1].size() + fields[2].size() + 3;
        const std::string_view json(line.constData() + jsonStart, std::size_t(line.size() - jsonStart));
        std::optional<ClientMessage> message = decodeClientMessage(json);
        if (!ok || !ordinalOk || !message || seq <= parsed.lastSeq) {
            parsed.clean = false;
            break;
        }
        parsed.lastSeq = seq;
        parsed.entries.push_back({seq, std::move(*message), ordinal, json.size()});
    }
    return parsed;
}

}  // namespace

QString PendingWorkJournal::userDirectory(const QString& directory, const QUrl& origin,
                                          const QString& userId) {
    const QUrl site =
        origin.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    return directory + u'/' + component(site.toString()) + u'/' + component(userId);
}

QString PendingWorkJournal::pathFor(const QString& directory, const QUrl& origin, const QString& userId,
                                    const QString& roomId) {
    return userDirectory(directory, origin, userId) + u'/' + component(roomId) + QStringLiteral(".journal");
}

QString PendingWorkJournal::defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/vellumora/pending");
}

PendingWorkJournal::PendingWorkJournal(QString path, std::size_t budgetBytes)
    : path_(std::move(path)), budgetBytes_(budgetBytes), file_(path_) {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    // Two copies of the app in one room as one user would write over each other's records.
    lock_ = std::make_unique<QLockFile>(path_ + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        error_ = QStringLiteral("another Vellumora holds it");
        lock_.reset();
        return;
    }
    read();
}

PendingWorkJournal::~PendingWorkJournal() {
    // Nothing waiting: no file is left behind for the next launch to look at.
    if (lock_ && entries_.empty()) {
        file_.close();
        QFile::remove(path_);
    }
}

void PendingWorkJournal::read() {
    if (QFile existing(path_); existing.open(QIODevice::ReadOnly)) {
        Parsed parsed = parse(existing.readAll());
        roomName_ = parsed.roomName;
        entries_ = std::move(parsed.entries);
        for (const Entry& entry : entries_) bytes_ += entry.bytes;
        nextSeq_ = parsed.lastSeq + 1;
        if (parsed.clean && file_.open(QIODevice::Append | QIODevice::Unbuffered)) return;
    }
    rewrite();
}

// The file anew with only what still waits, replacing the old one in one step.
bool PendingWorkJournal::rewrite() {
    file_.close();
    QSaveFile save(path_);
    if (!save.open(QIODevice::WriteOnly)) {
        error_ = save.errorString();
        return false;
    }
    save.write(header(roomName_));
    for (const Entry& entry : entries_) {
        const std::optional<std::string> json = encode(entry.message);
        save.write("M " + QByteArray::number(entry.seq) + ' ' + QByteArray::number(entry.ordinal) + ' ' +
                   QByteArray::fromStdString(json.value_or("")) + '\n');
    }
    if (!save.commit() || !file_.open(QIODevice::Append | QIODevice::Unbuffered)) {
        error_ = save.errorString();
        return false;
    }
    return true;
}

bool PendingWorkJournal::write(const QByteArray& line) {
    if (!file_.isOpen()) return false;
    if (file_.write(line) != line.size()) {
        error_ = file_.errorString();
        // A partial record would hide every later one: start the file again from memory.
        rewrite();
        return false;
    }
    return true;
}

void PendingWorkJournal::setRoomName(const QString& name) {
    if (!lock_ || name == roomName_) return;
    roomName_ = name;
    rewrite();
}

PendingWorkJournal::Append PendingWorkJournal::append(const ClientMessage& message, std::uint32_t ordinal) {
    const std::optional<std::string> json = encode(message);
    if (!json) return Append::notWritten;
    const bool isEnd = std::holds_alternative<ClientMessage::StrokeEnd>(message.value);
    if (!isEnd && bytes_ + json->size() > budgetBytes_) return Append::overBudget;
    const std::uint64_t seq = nextSeq_;
    if (!write("M " + QByteArray::number(seq) + ' ' + QByteArray::number(ordinal) + ' ' +
               QByteArray::fromStdString(*json) + '\n'))
        return Append::notWritten;
    // A finished stroke, a page or a clear is a unit of work: on disk for good, not just handed
    // to the system.
    if (!std::holds_alternative<ClientMessage::StrokePoint>(message.value)) ::fdatasync(file_.handle());
    ++nextSeq_;
    bytes_ += json->size();
    entries_.push_back({seq, message, ordinal, json->size()});
    return Append::kept;
}

void PendingWorkJournal::confirm(std::uint64_t seq) {
    if (entries_.empty() || entries_.front().seq > seq) return;
    while (!entries_.empty() && entries_.front().seq <= seq) {
        bytes_ -= entries_.front().bytes;
        entries_.pop_front();
    }
    // Everything confirmed: the file shrinks back to its header instead of growing for ever.
    if (entries_.empty()) {
        rewrite();
    } else {
        write("C " + QByteArray::number(seq) + '\n');
    }
}

std::optional<QString> pendingRoomName(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    Parsed parsed = parse(file.readAll());
    if (parsed.entries.empty()) return std::nullopt;
    return parsed.roomName;
}

}  // namespace vellumora
