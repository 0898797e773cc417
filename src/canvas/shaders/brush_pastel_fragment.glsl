in vec2 vLocal;
flat in vec3 vColor;
flat in float vOpacity;
flat in float vSeed;
out vec4 fragColor;

void main()
{
    float d = length(vLocal);
    if (d > 1.0) discard;
    float body = sstep(1.0, 0.0, d) * 0.32;
    float dust = brushHash(vLocal * 42.0, vSeed);
    fragColor = vec4(vColor, body * lerp(0.55, 1.0, dust) * vOpacity);
}
