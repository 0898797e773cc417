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
    float body = sstep(1.0, 0.0, d) * 0.12;
    float wetEdge = sstep(0.72, 0.90, d) * sstep(1.00, 0.90, d) * 0.35;
    float mottle = brushHash(local * 3.0, vSeed);
    fragColor = vec4(vColor, (body + wetEdge) * lerp(0.85, 1.0, mottle) * vOpacity);
}
