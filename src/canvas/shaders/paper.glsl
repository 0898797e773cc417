// The procedural paper at canvas coordinate c.
vec3 paperColor(vec2 c)
{
    vec3 paper = vec3(0.980, 0.948, 0.886);
    vec2 np = c * 2200.0;

    float fiber = valueNoise(np * 0.00016) * 0.50 + valueNoise(np * 0.00050) * 0.30 +
                  valueNoise(np * 0.00160) * 0.20;
    paper *= 0.955 + 0.05 * (fiber - 0.5);

    float streaks = valueNoise(vec2(np.x * 0.00030, np.y * 0.004));
    paper *= 0.985 + 0.018 * (streaks - 0.5);

    float broad = valueNoise(c * 2.1);
    paper *= 0.972 + 0.04 * broad;

    float speckMask = sstep(0.86, 0.94, valueNoise(np * 0.00045));
    paper *= 1.0 - 0.10 * speckMask;

    float binding = sstep(0.14, 0.00, c.x);
    paper *= 1.0 - 0.26 * binding;

    float h = sstep(0.55, 0.00, c.y) * 0.05;
    paper += h * vec3(1.00, 0.95, 0.82);

    float cornerD = min(c.x, 1.0 - c.x) * min(c.y, 1.0 - c.y);
    paper *= 1.0 - sstep(0.035, 0.0, cornerD) * 0.08;

    vec2 k = c - vec2(0.52, 0.48);
    paper *= 1.0 - dot(k, k) * 0.28;
    return paper;
}
