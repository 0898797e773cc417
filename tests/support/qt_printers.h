#pragma once
// Readable GoogleTest output for Qt values.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString(QUrl::FullyEncoded).toStdString();
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << bytes.size() << " bytes 0x" << bytes.left(32).toHex().toStdString()
        << (bytes.size() > 32 ? "..." : "");
}

#include <QSize>

inline void PrintTo(QSize size, std::ostream* os) {
    *os << size.width() << " x " << size.height();
}
