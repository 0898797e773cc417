#include "camera/line_art_extractor.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QtDebug>

#include <algorithm>

namespace vellumora::LineArtExtractor {

std::optional<QByteArray> pngData(const QImage& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        const QRect r = image.rect();
        qWarning().noquote() << QStringLiteral("[LineExtractor] refusing to encode: bad extent (%1, %2, %3, %4)")
                                    .arg(r.x())
                                    .arg(r.y())
                                    .arg(r.width())
                                    .arg(r.height());
        return std::nullopt;
    }
    QImage page = image;
    const int longest = std::max(page.width(), page.height());
    if (longest > kMaxPageSide) {
        const double factor = double(kMaxPageSide) / longest;
        page = page.scaled(std::max(1, qRound(page.width() * factor)), std::max(1, qRound(page.height() * factor)),
                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    page = page.convertToFormat(QImage::Format_RGBA8888);
    page.setColorSpace(QColorSpace::SRgb);

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(page) || bytes.isEmpty()) {
        qWarning().noquote() << QStringLiteral("[LineExtractor] pngRepresentation returned nil");
        return std::nullopt;
    }
    return bytes;
}

}  // namespace vellumora::LineArtExtractor
