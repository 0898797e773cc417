// Pages: importing a phone photo of a colouring page, the largest page the pipeline can send,
// and drawing the built-in pages.

#include "lineart/line_art_extractor.h"
#include "pages/page_library.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace vellumora {
namespace {

namespace lae = LineArtExtractor;

// Only the first call draws, and it must come before anything else asks for the pages.
void BM_BuiltInPagesFirstCall(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(PageLibrary::builtIn());
}
BENCHMARK(BM_BuiltInPagesFirstCall)->Unit(benchmark::kMillisecond)->Iterations(1);

// A 4032 × 3024 JPEG as a phone takes it: the mandala drawn large on white paper.
QString phonePhoto(const QTemporaryDir& dir) {
    const QString path = dir.filePath("photo.jpg");
    if (QFile::exists(path)) return path;
    QImage photo(4032, 3024, QImage::Format_RGB32);
    photo.fill(QColor(250, 249, 246));
    const QImage mandala = QImage::fromData(*PageLibrary::builtIn().at(1).imageData);
    QPainter(&photo).drawImage(QRect(504, 0, 3024, 3024), mandala);
    photo.save(path, "JPEG", 90);
    return path;
}

void BM_ImportPhoneJpeg(benchmark::State& state) {
    static const QTemporaryDir dir;
    const QString path = phonePhoto(dir);
    qint64 bytes = 0;
    for (auto _ : state) {
        const lae::LoadResult result = lae::loadColoringPage(path);
        if (!result.png) state.SkipWithError("import failed");
        bytes = result.png ? result.png->size() : 0;
    }
    state.counters["page_bytes"] = double(bytes);
}
BENCHMARK(BM_ImportPhoneJpeg)->Unit(benchmark::kMillisecond);

// The pipeline's pages are black with varying alpha; alpha that is pure noise compresses worst.
void BM_WorstCasePage(benchmark::State& state) {
    QImage noise(lae::kMaxPageSide, lae::kMaxPageSide, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) line[x] = qRgba(0, 0, 0, int(random.bounded(256)));
    }
    qint64 bytes = 0;
    for (auto _ : state) bytes = lae::pngData(noise).value_or(QByteArray()).size();
    state.counters["png_bytes"] = double(bytes);
    state.counters["base64_bytes"] = double((bytes + 2) / 3 * 4);
    state.counters["share_of_8MiB"] = double((bytes + 2) / 3 * 4) / (8 * 1024 * 1024);
}
BENCHMARK(BM_WorstCasePage)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace vellumora

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
