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
    float body = sstep(1.0, 0.25, d);
    float grain = brushHash(vec2(local.x * 30.0, local.y * 90.0), vSeed);
    float holes = brushHash(local * 18.0, vSeed + 4.7);
    float a = body * lerp(0.35, 1.0, grain) * sstep(0.12, 0.35, holes) * 0.45;
    fragColor = vec4(vColor, a * vOpacity);
}
