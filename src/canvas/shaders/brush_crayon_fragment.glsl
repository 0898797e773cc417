in vec2 vLocal;
flat in vec3 vColor;
flat in float vOpacity;
flat in float vSeed;
out vec4 fragColor;

void main()
{
    float d = length(vLocal);
    if (d > 1.0) discard;
    float body = sstep(1.0, 0.85, d) * 0.82;
    float blockGrain = brushHash(floor(vLocal * 14.0), vSeed);
    float miss = brushHash(floor(vLocal * 6.0), vSeed + 11.3);
    fragColor = vec4(vColor, body * lerp(0.45, 1.0, blockGrain) * step(0.35, miss) * vOpacity);
}
