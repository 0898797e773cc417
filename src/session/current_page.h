#pragma once
// The page being coloured as the session holds it, and its conversions to and from the wire.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

#include "model/protocol.h"

namespace vellumora {

struct CurrentPage {
    QString pageId;
    QString displayName;
    // The page's image file as it was loaded or received; none for a blank page.
    std::optional<QByteArray> imageData;
    // Its type as declared: own pages are PNG, a peer's says what it is.
    QString mimeType = QStringLiteral("image/png");
    bool operator==(const CurrentPage&) const = default;
};

// Standard Base64 (RFC 4648) with padding required and nothing outside the alphabet, not even
// line breaks; none for any other text.
std::optional<QByteArray> decodeStrictBase64(QByteArrayView text);

// The image is none for an empty imageBase64 and for one that is not strict Base64; the
// declared mime type goes with it.
CurrentPage toCurrentPage(const WirePage& page);
// The empty text when there are no image bytes.
WirePage toWirePage(const CurrentPage& page);

}  // namespace vellumora
