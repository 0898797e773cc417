flat in vec2 vCenter;
flat in float vExtent;
flat in vec3 vColor;
flat in float vOpacity;
flat in float vSeed;
out vec4 fragColor;

void main()
{
    vec2 local = brushLocal(vCenter, vExtent);
    float d = length(local);
    if (d > 1.0) discard;
    float body = sstep(1.0, 0.85, d) * 0.82;
    float blockGrain = brushHash(floor(local * 14.0), vSeed);
    float miss = brushHash(floor(local * 6.0), vSeed + 11.3);
    fragColor = vec4(vColor, body * lerp(0.45, 1.0, blockGrain) * step(0.35, miss) * vOpacity);
}
