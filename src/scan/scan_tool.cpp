// vellumora-scan: the app's page detection and line-art extraction from the command line.
//
//   vellumora-scan detect IMAGE...      one JSON line per image with the page's corners
//   vellumora-scan extract IMAGE OUT.png  the page the app would use, as PNG
//
// Corners are pixels of the image as displayed (EXIF orientation applied), origin top-left,
// clockwise from the top-left corner; "corners" is null when no page is found.

#include "model/json_writer.h"
#include "scan/image_matrix.h"
#include "scan/sketch_scanner.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <string>

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

// One line of `detect`: corners in hundredths of a pixel, which is all a detection is worth.
std::string detectionLine(const QString& path, const std::optional<Quad>& quad) {
    const auto hundredths = [](double v) { return std::round(v * 100) / 100; };
    std::string line;
    json::Writer out(line);
    out.beginObject();
    out.member("image", path.toStdString());
    out.key("corners");
    if (quad) {
        out.beginArray();
        for (const QPointF& p : quad->clockwise()) {
            out.beginArray();
            out.number(hundredths(p.x()));
            out.number(hundredths(p.y()));
            out.endArray();
        }
        out.endArray();
    } else {
        out.null();
    }
    out.endObject();
    return line;
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
        std::printf("%s\n", detectionLine(path, quad).c_str());
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
