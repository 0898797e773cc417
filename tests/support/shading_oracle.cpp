#include "support/shading_oracle.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace vellumora::shading {

namespace {

struct Vec3f {
    float x, y, z;
};

float fract(float x) {
    return x - std::floor(x);
}

Vec3f fract3(Vec3f v) {
    return {fract(v.x), fract(v.y), fract(v.z)};
}

float hashTail(Vec3f q) {
    const float s = q.x * (q.y + 33.33f) + q.y * (q.z + 33.33f) + q.z * (q.x + 33.33f);
    q = {q.x + s, q.y + s, q.z + s};
    return fract((q.x + q.y) * q.z);
}

float length(Vec2f v) {
    return std::sqrt(v.x * v.x + v.y * v.y);
}
Vec2f scale(Vec2f v, float k) {
    return {v.x * k, v.y * k};
}
Vec2f floor2(Vec2f v) {
    return {std::floor(v.x), std::floor(v.y)};
}
float step(float edge, float x) {
    return x >= edge ? 1.0f : 0.0f;
}

// Smooth step that also accepts reversed edges (e0 > e1), falling from 1 to 0.
float smoothStep(float e0, float e1, float x) {
    const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

float mix(float a, float b, float t) {
    return a + (b - a) * t;
}

float brushHash(Vec2f p, float seed) {
    const float s = seed * 0.017f;
    return hashTail(fract3({p.x * 0.1031f + s, p.y * 0.1031f + s, p.x * 0.1031f + s}));
}

float hash12(Vec2f p) {
    return hashTail(fract3({p.x * 0.1031f, p.y * 0.1031f, p.x * 0.1031f}));
}

float valueNoise(Vec2f p) {
    const Vec2f i = floor2(p);
    const Vec2f f{fract(p.x), fract(p.y)};
    const float a = hash12(i);
    const float b = hash12({i.x + 1.0f, i.y});
    const float c = hash12({i.x, i.y + 1.0f});
    const float d = hash12({i.x + 1.0f, i.y + 1.0f});
    const Vec2f u{f.x * f.x * (3.0f - 2.0f * f.x), f.y * f.y * (3.0f - 2.0f * f.y)};
    return mix(mix(a, b, u.x), mix(c, d, u.x), u.y);
}

using Rgb = std::array<float, 3>;

Rgb paperColor(Vec2f c) {
    Rgb paper{0.980f, 0.948f, 0.886f};
    const auto times = [&paper](float k) {
        for (float& channel : paper) channel *= k;
    };
    const Vec2f np = scale(c, 2200.0f);

    const float fiber = valueNoise(scale(np, 0.00016f)) * 0.50f + valueNoise(scale(np, 0.00050f)) * 0.30f +
                        valueNoise(scale(np, 0.00160f)) * 0.20f;
    times(0.955f + 0.05f * (fiber - 0.5f));

    const float streaks = valueNoise({np.x * 0.00030f, np.y * 0.004f});
    times(0.985f + 0.018f * (streaks - 0.5f));

    const float broad = valueNoise(scale(c, 2.1f));
    times(0.972f + 0.04f * broad);

    const float speckMask = smoothStep(0.86f, 0.94f, valueNoise(scale(np, 0.00045f)));
    times(1.0f - 0.10f * speckMask);

    const float binding = smoothStep(0.14f, 0.00f, c.x);
    times(1.0f - 0.26f * binding);

    const float h = smoothStep(0.55f, 0.00f, c.y) * 0.05f;
    paper[0] += h * 1.00f;
    paper[1] += h * 0.95f;
    paper[2] += h * 0.82f;

    const float cornerD = std::min(c.x, 1.0f - c.x) * std::min(c.y, 1.0f - c.y);
    times(1.0f - smoothStep(0.035f, 0.0f, cornerD) * 0.08f);

    const Vec2f k{c.x - 0.52f, c.y - 0.48f};
    times(1.0f - (k.x * k.x + k.y * k.y) * 0.28f);
    return paper;
}

}  // namespace

std::optional<float> brushAlpha(Tool tool, Vec2f local, float seed) {
    const float d = length(local);
    if (d > 1.0f) return std::nullopt;
    switch (tool) {
        case Tool::sketchpen: {
            const float a = smoothStep(1.0f, 0.78f, d) * 0.92f;
            const float n = brushHash(scale(local, 8.0f), seed);
            return a * (0.92f + 0.08f * n);
        }
        case Tool::pencil: {
            const float body = smoothStep(1.0f, 0.25f, d);
            const float grain = brushHash({local.x * 30.0f, local.y * 90.0f}, seed);
            const float holes = brushHash(scale(local, 18.0f), seed + 4.7f);
            return body * mix(0.35f, 1.0f, grain) * smoothStep(0.12f, 0.35f, holes) * 0.45f;
        }
        case Tool::watercolor: {
            const float body = smoothStep(1.0f, 0.0f, d) * 0.12f;
            const float wetEdge = smoothStep(0.72f, 0.90f, d) * smoothStep(1.00f, 0.90f, d) * 0.35f;
            const float mottle = brushHash(scale(local, 3.0f), seed);
            return (body + wetEdge) * mix(0.85f, 1.0f, mottle);
        }
        case Tool::crayon: {
            const float body = smoothStep(1.0f, 0.85f, d) * 0.82f;
            const float blockGrain = brushHash(floor2(scale(local, 14.0f)), seed);
            const float miss = brushHash(floor2(scale(local, 6.0f)), seed + 11.3f);
            return body * mix(0.45f, 1.0f, blockGrain) * step(0.35f, miss);
        }
        case Tool::pastel: {
            const float body = smoothStep(1.0f, 0.0f, d) * 0.32f;
            const float dust = brushHash(scale(local, 42.0f), seed);
            return body * mix(0.55f, 1.0f, dust);
        }
        case Tool::eraser:
            return smoothStep(1.0f, 0.82f, d);
    }
    return std::nullopt;
}

Color4f composite(Vec2f c, Color4f ink, Color4f lines) {
    if (c.x < 0.0f || c.x > 1.0f || c.y < 0.0f || c.y > 1.0f) return {0, 0, 0, 0};
    const Rgb paper = paperColor(c);
    const float inkRgb[3] = {ink.r, ink.g, ink.b};
    const float lineRgb[3] = {lines.r, lines.g, lines.b};
    float rgb[3];
    for (int i = 0; i < 3; ++i) rgb[i] = mix(mix(paper[i], inkRgb[i], ink.a), lineRgb[i], lines.a);
    return {rgb[0], rgb[1], rgb[2], 1.0f};
}

std::optional<Color4f> cursorColor(Vec2f local, float radius, float ringWidth, Color4f color, float filled) {
    const float d = length(local);
    const float halfW = ringWidth * 0.5f;
    const float haloW = 1.8f;
    const float dr = std::abs(d - radius);
    const float colored = 1.0f - smoothStep(halfW - 0.5f, halfW + 0.5f, dr);
    const float haloBand = (1.0f - smoothStep(halfW + haloW - 0.5f, halfW + haloW + 0.5f, dr)) *
                           smoothStep(halfW - 0.5f, halfW + 0.5f, dr);
    float inner = 0.0f;
    if (filled > 0.5f) inner = smoothStep(radius - halfW, radius - halfW - 2.0f, d) * 0.40f;

    Color4f out;
    if (inner > 0.01f && d < radius - halfW)
        out = {color.r, color.g, color.b, inner};
    else if (colored >= haloBand * 0.5f)
        out = {color.r, color.g, color.b, colored};
    else
        out = {1.0f, 1.0f, 1.0f, haloBand * 0.85f};
    if (out.a < 0.01f) return std::nullopt;
    return out;
}

}  // namespace vellumora::shading
