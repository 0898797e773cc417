// Canvas renderer on whatever OpenGL the display offers (llvmpipe under scripts/bench):
// composite frame time, stamp throughput, replaying a room's backlog, and its picture.

#include "canvas/canvas_picture.h"
#include "canvas/renderer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace vellumora {
namespace {

QOpenGLFunctions_3_3_Core* gl = nullptr;

class Target {
  public:
    Target(int width, int height) : width(width), height(height) {
        gl->glGenTextures(1, &texture);
        gl->glBindTexture(GL_TEXTURE_2D, texture);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        gl->glGenFramebuffers(1, &framebuffer);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    ~Target() {
        gl->glDeleteFramebuffers(1, &framebuffer);
        gl->glDeleteTextures(1, &texture);
    }
    int width, height;
    GLuint texture = 0;
    GLuint framebuffer = 0;
};

// CPU time of every thread of the process (llvmpipe rasterises on worker threads): a figure
// that other load on the machine does not inflate, unlike wall time.
double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The machine's one-minute load average while a figure was taken: the machine is shared.
double loadAverage() {
    double load[1] = {};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

std::unique_ptr<Renderer> makeRenderer(benchmark::State& state) {
    auto renderer = std::make_unique<Renderer>();
    if (const QString error = renderer->initialize(); !error.isEmpty()) {
        state.SkipWithError(error.toStdString().c_str());
        return nullptr;
    }
    return renderer;
}

// One full frame as the view shows it: composite plus own and peer cursors, no new ink.
void BM_CompositeFrame(benchmark::State& state) {
    auto renderer = makeRenderer(state);
    if (!renderer) return;
    Target target(int(state.range(0)), int(state.range(1)));
    renderer->resize(target.width, target.height);
    renderer->setSelfCursor(CursorViz{{0.4f, 0.6f}, {1, 0, 0, 1}, true});
    renderer->setPeerCursors(
        {{"a", {{0.2f, 0.2f}, {0, 0, 1, 1}, false}}, {"b", {{0.8f, 0.3f}, {0, 1, 0, 1}, false}}});
    renderer->render(target.framebuffer);
    gl->glFinish();
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        renderer->render(target.framebuffer);
        gl->glFinish();
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["all_threads_cpu_ms"] =
        (processCpuSeconds() - cpuBefore) * 1e3 / double(state.iterations());
}
BENCHMARK(BM_CompositeFrame)
    ->Args({1100, 720})
    ->Args({2200, 1440})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Stamps painted per second: a pencil stroke (brush size 3) across the canvas per frame,
// composited into a tiny target so the stamps dominate.
void BM_StampsPerSecond(benchmark::State& state) {
    auto renderer = makeRenderer(state);
    if (!renderer) return;
    Target target(16, 16);
    renderer->resize(16, 16);
    const auto tool = static_cast<Tool>(state.range(0));
    std::size_t stamps = 0;
    int frame = 0;
    for (auto _ : state) {
        const double y = 0.05 + 0.0004 * (frame++ % 2000);
        renderer->beginStroke("s", {0.05, y}, tool, {0.2f, 0.4f, 0.8f, 1}, 4.5f);
        renderer->appendPoint("s", {0.95, y});
        renderer->endStroke("s");
        stamps += renderer->stamper().pendingStamps().size();
        renderer->render(target.framebuffer);
        gl->glFinish();
    }
    state.counters["stamps_per_frame"] = double(stamps) / double(state.iterations());
    state.counters["stamps_per_second"] = benchmark::Counter(double(stamps), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StampsPerSecond)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

void queueBacklog(Renderer& renderer) {
    for (int s = 0; s < 1000; ++s) {
        const std::string id = "stroke-" + std::to_string(s);
        const double x0 = 0.05 + 0.0009 * s;
        const double y0 = 0.1 + 0.0007 * (s % 1000);
        const auto tool = static_cast<Tool>(s % 5);
        renderer.beginStroke(id, {x0, y0}, tool, {0.8f, 0.3f, 0.2f, 1}, 4.5f);
        for (int p = 1; p < 100; ++p) renderer.appendPoint(id, {x0 + 0.0015 * p, y0 + 0.0008 * (p % 7)});
        renderer.endStroke(id);
    }
}

// A room's backlog of 100,000 points (1,000 strokes of 100 points, brush size 3, wiggling
// across the page): queueing every stamp plus the first frame at 1100 × 720.
void BM_ReplayBacklog(benchmark::State& state) {
    auto renderer = makeRenderer(state);
    if (!renderer) return;
    Target target(1100, 720);
    renderer->resize(target.width, target.height);
    std::size_t stamps = 0;
    for (auto _ : state) {
        renderer->resetCanvas();
        queueBacklog(*renderer);
        stamps = renderer->stamper().pendingStamps().size();
        renderer->render(target.framebuffer);
        gl->glFinish();
    }
    state.counters["stamps"] = double(stamps);
}
BENCHMARK(BM_ReplayBacklog)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The CPU share of the replay: queueing the same backlog without drawing it.
void BM_QueueBacklog(benchmark::State& state) {
    Renderer renderer;
    for (auto _ : state) {
        renderer.resetCanvas();
        queueBacklog(renderer);
        benchmark::DoNotOptimize(renderer.stamper().pendingStamps().data());
    }
}
BENCHMARK(BM_QueueBacklog)->Unit(benchmark::kMillisecond)->UseRealTime();

// The picture of a full room at 2048 x 2048: composing it offscreen and reading it back (on
// the GL thread), then turning, encoding and writing it as PNG (on the thread pool).
void BM_PictureReadback(benchmark::State& state) {
    auto renderer = makeRenderer(state);
    if (!renderer) return;
    queueBacklog(*renderer);
    renderer->paintInk();
    gl->glFinish();
    for (auto _ : state) benchmark::DoNotOptimize(renderer->picture().constBits());
    state.counters["load1"] = loadAverage();
}
BENCHMARK(BM_PictureReadback)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PictureEncode(benchmark::State& state) {
    auto renderer = makeRenderer(state);
    if (!renderer) return;
    queueBacklog(*renderer);
    const QImage readBack = renderer->picture();
    const QString path = QDir::temp().filePath(QStringLiteral("vellumora-bench-picture.png"));
    for (auto _ : state) {
        if (const QString error = writePicturePng(finishPicture(readBack), path); !error.isEmpty()) {
            state.SkipWithError(error.toStdString().c_str());
            break;
        }
    }
    state.counters["png_mib"] = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
    state.counters["load1"] = loadAverage();
    QFile::remove(path);
}
BENCHMARK(BM_PictureEncode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vellumora

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QOpenGLContext context;
    context.setFormat(format);
    QOffscreenSurface surface;
    if (!context.create() ||
        (surface.setFormat(context.format()), surface.create(), !context.makeCurrent(&surface))) {
        std::fprintf(stderr, "no OpenGL 3.3 context: run under scripts/bench\n");
        return 1;
    }
    vellumora::gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&context);
    std::printf("GL_RENDERER: %s\n", reinterpret_cast<const char*>(vellumora::gl->glGetString(GL_RENDERER)));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    context.doneCurrent();
    return 0;
}
