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
    float a = sstep(1.0, 0.78, d) * 0.92;
    float n = brushHash(local * 8.0, vSeed);
    fragColor = vec4(vColor, a * (0.92 + 0.08 * n) * vOpacity);
}
