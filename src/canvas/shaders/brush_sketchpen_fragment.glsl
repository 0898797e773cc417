in vec2 vLocal;
flat in vec3 vColor;
flat in float vOpacity;
flat in float vSeed;
out vec4 fragColor;

void main()
{
    float d = length(vLocal);
    if (d > 1.0) discard;
    float a = sstep(1.0, 0.78, d) * 0.92;
    float n = brushHash(vLocal * 8.0, vSeed);
    fragColor = vec4(vColor, a * (0.92 + 0.08 * n) * vOpacity);
}
