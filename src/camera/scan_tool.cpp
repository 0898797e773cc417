// vellumora-scan: the app's page detection and line-art extraction from the command line.
//
//   vellumora-scan detect IMAGE...      one JSON line per image with the page's corners
//   vellumora-scan extract IMAGE OUT.png  the page the app would use, as PNG
//
// Corners are pixels of the image as displayed (EXIF orientation applied), origin top-left,
// clockwise from the top-left corner; "corners" is null when no page is found.

#include "camera/image_matrix.h"
#include "camera/sketch_scanner.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QStringList>

#include <cstdio>

using namespace vellumora;

namespace {

constexpr int kUsageError = 2;
constexpr int kInputError = 1;

void fail(const QString& message) {
    std::fprintf(stderr, "vellumora-scan: %s\n", qUtf8Printable(message));
}

int usage() {
    std::fprintf(stderr,
                 "usage: vellumora-scan detect IMAGE...\n"
                 "       vellumora-scan extract IMAGE OUT.png\n");
    return kUsageError;
}

std::optional<QImage> readImage(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        fail(QStringLiteral("cannot read %1: %2").arg(path, reader.errorString()));
        return std::nullopt;
    }
    return image;
}

QString jsonString(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '"':
                out += QStringLiteral("\\\"");
                break;
            case '\\':
                out += QStringLiteral("\\\\");
                break;
            case '\n':
                out += QStringLiteral("\\n");
                break;
            case '\r':
                out += QStringLiteral("\\r");
                break;
            case '\t':
                out += QStringLiteral("\\t");
                break;
            default:
                if (c.unicode() < 0x20) {
                    out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
                } else {
                    out += c;
                }
        }
    }
    return out + QLatin1Char('"');
}

int detect(const QStringList& paths) {
    int status = 0;
    for (const QString& path : paths) {
        const auto image = readImage(path);
        if (!image) {
            status = kInputError;
            continue;
        }
        QImage holder;
        const auto quad = LineArtExtractor::detectDocument(scan::bgraView(*image, holder));
        QString corners = QStringLiteral("null");
        if (quad) {
            QStringList points;
            for (const QPointF& p : quad->clockwise()) {
                points << QStringLiteral("[%1, %2]").arg(p.x(), 0, 'f', 2).arg(p.y(), 0, 'f', 2);
            }
            corners = QLatin1Char('[') + points.join(QStringLiteral(", ")) + QLatin1Char(']');
        }
        std::printf("{\"image\": %s, \"corners\": %s}\n", qUtf8Printable(jsonString(path)),
                    qUtf8Printable(corners));
        std::fflush(stdout);
    }
    return status;
}

int extract(const QString& input, const QString& output) {
    const auto image = readImage(input);
    if (!image) {
        return kInputError;
    }
    const auto png = LineArtExtractor::extractHighQuality(*image);
    if (!png) {
        fail(QStringLiteral("could not extract a page from %1").arg(input));
        return kInputError;
    }
    QFile file(output);
    if (!file.open(QIODevice::WriteOnly) || file.write(*png) != png->size() || !file.flush()) {
        fail(QStringLiteral("cannot write %1: %2").arg(output, file.errorString()));
        return kInputError;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() >= 2 && args[0] == QLatin1String("detect")) {
        return detect(args.mid(1));
    }
    if (args.size() == 3 && args[0] == QLatin1String("extract")) {
        return extract(args[1], args[2]);
    }
    return usage();
}
