#include "session/current_page.h"

namespace vellumora {

namespace {

bool isBase64AlphabetChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::optional<QByteArray> decodeStrictBase64(QByteArrayView text) {
    const qsizetype size = text.size();
    if (size % 4 != 0) {
        return std::nullopt;
    }
    qsizetype padding = 0;
    if (size > 0 && text[size - 1] == '=') {
        padding = (size > 1 && text[size - 2] == '=') ? 2 : 1;
    }
    for (qsizetype i = 0; i < size - padding; ++i) {
        if (!isBase64AlphabetChar(text[i])) {
            return std::nullopt;
        }
    }
    auto decoded =
        QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return std::move(decoded.decoded);
}

CurrentPage toCurrentPage(const WirePage& page) {
    CurrentPage current{QString::fromStdString(page.pageId), QString::fromStdString(page.displayName),
                        std::nullopt, QString::fromStdString(page.mimeType)};
    if (!page.imageBase64.empty()) {
        current.imageData =
            decodeStrictBase64(QByteArrayView(page.imageBase64.data(), qsizetype(page.imageBase64.size())));
    }
    return current;
}

WirePage toWirePage(const CurrentPage& page) {
    WirePage wire{page.pageId.toStdString(), page.displayName.toStdString(), page.mimeType.toStdString(), {}};
    if (page.imageData) {
        const QByteArray base64 = page.imageData->toBase64();
        wire.imageBase64.assign(base64.constData(), std::size_t(base64.size()));
    }
    return wire;
}

}  // namespace vellumora
