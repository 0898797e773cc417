#pragma once
// Readable GoogleTest output for Qt values.

#include <QString>
#include <QUrl>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString(QUrl::FullyEncoded).toStdString();
}
