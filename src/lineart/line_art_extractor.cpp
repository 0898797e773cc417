#include "lineart/line_art_extractor.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QtDebug>

#include <algorithm>
#include <array>
#include <cstring>

namespace vellumora::LineArtExtractor {

namespace {

constexpr double kWhiteToAlphaContrast = 1.2;

// Opacity (0…255) of each grey level after the contrast boost: white and near white 0, black 255.
const std::array<int, 256>& opacityOfGrey() {
    static const std::array<int, 256> table = [] {
        std::array<int, 256> t{};
        for (int v = 0; v < 256; ++v) {
            const double contrasted = std::clamp((v / 255.0 - 0.5) * kWhiteToAlphaContrast + 0.5, 0.0, 1.0);
            t[std::size_t(v)] = qRound(255.0 * (1.0 - contrasted));
        }
        return t;
    }();
    return table;
}

// Qt's JPEG decoder fills a file that ends early with grey and reports success; a complete file
// ends its last scan with an EOI marker. Walks the segments the way a decoder finds them.
bool jpegIsComplete(QByteArrayView data) {
    const auto* p = reinterpret_cast<const uchar*>(data.data());
    const qsizetype n = data.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) {
        return false;
    }
    qsizetype i = 2;
    const auto nextFF = [&](qsizetype from) -> qsizetype {
        const void* hit = from < n ? std::memchr(p + from, 0xFF, std::size_t(n - from)) : nullptr;
        return hit ? static_cast<const uchar*>(hit) - p : -1;
    };
    for (;;) {
        i = nextFF(i);  // decoders skip stray bytes between segments
        if (i < 0) {
            return false;
        }
        while (i < n && p[i] == 0xFF) {
            ++i;
        }
        if (i >= n) {
            return false;
        }
        const uchar code = p[i++];
        if (code == 0xD9) {
            return true;
        }
        if ((code >= 0xD0 && code <= 0xD7) || code == 0x01) {
            continue;
        }
        if (i + 2 > n) {
            return false;
        }
        const qsizetype length = (qsizetype(p[i]) << 8) | p[i + 1];
        if (length < 2 || i + length > n) {
            return false;
        }
        i += length;
        if (code != 0xDA) {
            continue;
        }
        // Entropy-coded data: 0xFF is followed by a stuffed zero or a restart code inside it.
        for (;;) {
            i = nextFF(i);
            if (i < 0 || i + 1 >= n) {
                return false;
            }
            const uchar next = p[i + 1];
            if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7)) {
                break;
            }
            i += 2;
        }
    }
}

qint64 readerBudgetBytes() {
    // An unlimited reader still gets Qt's default budget: a page never needs more.
    const int megabytes = QImageReader::allocationLimit() > 0 ? QImageReader::allocationLimit() : 128;
    return qint64(megabytes) * 1024 * 1024;
}

// Every picture is worked on as 32-bit pixels, whatever it is stored as.
qint64 decodedBytes(QSize size, QImage::Format format) {
    const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return qint64(size.width()) * size.height() * std::max(4, bits / 8);
}

LoadResult failed(LoadFailure failure, QSize imageSize = {}) {
    return LoadResult{std::nullopt, failure, imageSize};
}

LoadResult decodeColoringPage(QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format();
    if (format != "png" && format != "jpeg") {
        return failed(LoadFailure::notPngOrJpeg);
    }
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty()) {
        return failed(LoadFailure::damaged);
    }
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize shown = turned ? stored.transposed() : stored;
    if (std::min(stored.width(), stored.height()) < kMinPageSide) {
        return failed(LoadFailure::tooSmall, shown);
    }
    // The JPEG decoder scales while decoding and never holds the full picture; others (PNG
    // among them, although it takes a scaled size) decode everything first.
    const bool overBudget = decodedBytes(stored, reader.imageFormat()) > readerBudgetBytes();
    if (overBudget && format != "jpeg") {
        return failed(LoadFailure::tooLarge, shown);
    }
    if (format == "jpeg" && !jpegIsComplete(bytes)) {
        return failed(LoadFailure::damaged, shown);
    }
    // Scaling before whiteToAlpha rather than after keeps the work at page size; the page differs
    // only in the anti-aliasing of line edges.
    const QSize target = cappedSize(stored);
    if (target != stored) {
        reader.setScaledSize(target);
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        return failed(overBudget ? LoadFailure::tooLarge : LoadFailure::damaged, shown);
    }
    std::optional<QByteArray> png = pngData(whiteToAlpha(image));
    if (!png) {
        return failed(LoadFailure::notEncoded, shown);
    }
    return LoadResult{std::move(png), LoadFailure::unreadable, shown};
}

}  // namespace

QSize cappedSize(QSize size) {
    const int longest = std::max(size.width(), size.height());
    if (longest <= kMaxPageSide) {
        return size;
    }
    const double factor = double(kMaxPageSide) / longest;
    return QSize(std::max(1, qRound(size.width() * factor)), std::max(1, qRound(size.height() * factor)));
}

std::optional<QByteArray> pngData(const QImage& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        const QRect r = image.rect();
        qWarning().noquote() << QStringLiteral(
                                    "[LineExtractor] refusing to encode: bad extent (%1, %2, %3, %4)")
                                    .arg(r.x())
                                    .arg(r.y())
                                    .arg(r.width())
                                    .arg(r.height());
        return std::nullopt;
    }
    QImage page = image;
    const QSize target = cappedSize(page.size());
    if (target != page.size()) {
        page = page.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    page = page.convertToFormat(QImage::Format_RGBA8888);
    page.setColorSpace(QColorSpace::SRgb);

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (page.isNull() || !writer.write(page) || bytes.isEmpty()) {
        qWarning().noquote() << QStringLiteral("[LineExtractor] pngRepresentation returned nil");
        return std::nullopt;
    }
    return bytes;
}

QImage whiteToAlpha(const QImage& image) {
    if (image.isNull()) {
        return {};
    }
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    QImage out(source.size(), QImage::Format_ARGB32);
    if (source.isNull() || out.isNull()) {
        return {};
    }
    const std::array<int, 256>& opacity = opacityOfGrey();
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < source.width(); ++x) {
            const QRgb c = in[x];
            // Greyed with the Rec. 601 weights; alpha = A − luma of the premultiplied colour.
            const int grey = (299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c) + 500) / 1000;
            const int alpha = (qAlpha(c) * opacity[std::size_t(grey)] + 127) / 255;
            line[x] = qRgba(0, 0, 0, alpha);
        }
    }
    return out;
}

LoadResult loadColoringPage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return failed(LoadFailure::unreadable);
    }
    // In pieces, so that a device without an end cannot make us read forever.
    QByteArray bytes;
    while (!file.atEnd()) {
        const QByteArray piece = file.read(4 * 1024 * 1024);
        if (piece.isEmpty()) {
            break;
        }
        bytes += piece;
        if (bytes.size() > kMaxFileBytes) {
            return failed(LoadFailure::tooLarge);
        }
    }
    if (file.error() != QFileDevice::NoError) {
        return failed(LoadFailure::unreadable);
    }
    return decodeColoringPage(std::move(bytes));
}

}  // namespace vellumora::LineArtExtractor
