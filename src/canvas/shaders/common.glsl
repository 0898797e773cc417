// Helpers every fragment stage shares; their C++ twins, which the tests compare pixels with,
// live in tests/support/shading_oracle.cpp.

// Smooth step that also accepts reversed edges (e0 > e1); GLSL's smoothstep does not.
float sstep(float e0, float e1, float x)
{
    float t = clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

float lerp(float a, float b, float t)
{
    return a + (b - a) * t;
}

float hashTail(vec3 q)
{
    q += dot(q, q.yzx + 33.33);
    return fract((q.x + q.y) * q.z);
}

float brushHash(vec2 p, float seed)
{
    return hashTail(fract(vec3(p.x, p.y, p.x) * 0.1031 + seed * 0.017));
}

float hash12(vec2 p)
{
    return hashTail(fract(vec3(p.x, p.y, p.x) * 0.1031));
}

float valueNoise(vec2 p)
{
    vec2 i = floor(p);
    vec2 f = fract(p);
    float a = hash12(i);
    float b = hash12(i + vec2(1.0, 0.0));
    float c = hash12(i + vec2(0.0, 1.0));
    float d = hash12(i + vec2(1.0, 1.0));
    vec2 u = f * f * (3.0 - 2.0 * f);
    return lerp(lerp(a, b, u.x), lerp(c, d, u.x), u.y);
}

// Where this pixel lies in a stamp's quad, ±1 at its edges. Taken from the pixel centre
// rather than interpolated: the tips hash it at up to 90 cycles per unit, where the
// interpolation's rounding alone would reshuffle the grain.
vec2 brushLocal(vec2 center, float extent)
{
    return (gl_FragCoord.xy - center) / extent;
}
