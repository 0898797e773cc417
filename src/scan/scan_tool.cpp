// vellumora-scan: the app's page detection and line-art extraction from the command line.
//
//   vellumora-scan [--debug DIR] detect IMAGE...      one JSON line per image with the page's corners
//   vellumora-scan [--debug DIR] extract IMAGE OUT.png  the page the app would use, as PNG
//
// Corners are pixels of the image as displayed (EXIF orientation applied), origin top-left,
// clockwise from the top-left corner; "corners" is null when no page is found. With --debug,
// every outline considered and the one chosen are drawn over each image into DIR, and listed
// with the judgement on each, so that a wrong page can be seen and understood.

#include "model/json_writer.h"
#include "scan/image_matrix.h"
#include "scan/page_detector.h"
#include "scan/sketch_scanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QStringList>
#include <QTextStream>

#include <opencv2/imgproc.hpp>

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
                 "usage: vellumora-scan [--debug DIR] detect IMAGE...\n"
                 "       vellumora-scan [--debug DIR] extract IMAGE OUT.png\n");
    return kUsageError;
}

// IMAGE.debug.png, the picture with the outlines considered (red: not a sheet, blue: a sheet
// that lost, each numbered) and the page chosen (green); IMAGE.debug.txt, the judgement on each.
bool writeDebug(const QString& dir, const QString& path, const QImage& image) {
    QImage holder;
    const cv::Mat pixels = scan::bgraView(image, holder);
    scan::PageSearch search;
    scan::detectPage(pixels, &search);

    cv::Mat canvas = pixels.clone();
    const double unit = std::max(1.0, std::max(canvas.cols, canvas.rows) / 800.0);
    auto draw = [&](const Quad& quad, const cv::Scalar& colour, double width) {
        std::vector<cv::Point> points;
        for (const QPointF& p : quad.clockwise()) {
            points.emplace_back(int(std::lround(p.x() * 16)), int(std::lround(p.y() * 16)));
        }
        cv::polylines(canvas, points, true, colour, int(std::lround(width * unit)), cv::LINE_AA, 4);
    };
    QString report;
    QTextStream text(&report);
    for (size_t i = 0; i < search.candidates.size(); ++i) {
        const scan::PageCandidate& c = search.candidates[i];
        const cv::Scalar colour = c.sheet ? cv::Scalar(255, 90, 40, 255) : cv::Scalar(40, 40, 230, 255);
        draw(c.outline, colour, 1);
        const QPointF at = c.outline.centroid() + QPointF(0, 18 * unit * double(i % 4));
        cv::putText(canvas, std::to_string(i), cv::Point(int(at.x()), int(at.y())), cv::FONT_HERSHEY_SIMPLEX,
                    0.5 * unit, colour, int(std::ceil(unit)), cv::LINE_AA);
        text << i << '\t' << QString::fromStdString(c.source) << '\t' << QString::number(c.score, 'f', 3) << '\t';
        for (const QPointF& p : c.outline.clockwise()) {
            text << qRound(p.x()) << ',' << qRound(p.y()) << ' ';
        }
        text << '\t' << QString::fromStdString(c.verdict) << '\n';
    }
    if (search.page) {
        draw(*search.page, cv::Scalar(60, 200, 20, 255), 4);
        text << "page";
        for (const QPointF& p : search.page->clockwise()) {
            text << ' ' << p.x() << ',' << p.y();
        }
        text << '\n';
    } else {
        text << "no page\n";
    }

    const QString base = QDir(dir).filePath(QFileInfo(path).fileName() + QStringLiteral(".debug"));
    QFile list(base + QStringLiteral(".txt"));
    if (!scan::imageFromBgra(canvas).save(base + QStringLiteral(".png"), "PNG") ||
        !list.open(QIODevice::WriteOnly) || list.write(report.toUtf8()) < 0) {
        fail(QStringLiteral("cannot write the debug pictures to %1").arg(dir));
        return false;
    }
    return true;
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

int detect(const QStringList& paths, const QString& debugDir) {
    int status = 0;
    for (const QString& path : paths) {
        const auto image = readImage(path);
        if (!image) {
            status = kInputError;
            continue;
        }
        if (!debugDir.isEmpty() && !writeDebug(debugDir, path, *image)) {
            status = kInputError;
        }
        QImage holder;
        const auto quad = LineArtExtractor::detectDocument(scan::bgraView(*image, holder));
        std::printf("%s\n", detectionLine(path, quad).c_str());
        std::fflush(stdout);
    }
    return status;
}

int extract(const QString& input, const QString& output, const QString& debugDir) {
    const auto image = readImage(input);
    if (!image) {
        return kInputError;
    }
    if (!debugDir.isEmpty() && !writeDebug(debugDir, input, *image)) {
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
    QStringList args = app.arguments().mid(1);
    QString debugDir;
    if (args.size() >= 2 && args[0] == QLatin1String("--debug")) {
        debugDir = args[1];
        args = args.mid(2);
        if (!QDir().mkpath(debugDir)) {
            fail(QStringLiteral("cannot create %1").arg(debugDir));
            return kInputError;
        }
    }
    if (args.size() >= 2 && args[0] == QLatin1String("detect")) {
        return detect(args.mid(1), debugDir);
    }
    if (args.size() == 3 && args[0] == QLatin1String("extract")) {
        return extract(args[1], args[2], debugDir);
    }
    return usage();
}
