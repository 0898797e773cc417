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
    float body = sstep(1.0, 0.0, d) * 0.32;
    float dust = brushHash(local * 42.0, vSeed);
    fragColor = vec4(vColor, body * lerp(0.55, 1.0, dust) * vOpacity);
}
