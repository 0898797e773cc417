uniform vec4 uColor;
uniform float uRadius;
uniform float uRingWidth;
uniform float uFilled;
in vec2 vLocal;
out vec4 fragColor;

void main()
{
    float d = length(vLocal);
    float halfW = uRingWidth * 0.5;
    float haloW = 1.8;
    float dr = abs(d - uRadius);
    float colored = 1.0 - sstep(halfW - 0.5, halfW + 0.5, dr);
    float haloBand = (1.0 - sstep(halfW + haloW - 0.5, halfW + haloW + 0.5, dr)) *
                     sstep(halfW - 0.5, halfW + 0.5, dr);
    float inner = 0.0;
    if (uFilled > 0.5) inner = sstep(uRadius - halfW, uRadius - halfW - 2.0, d) * 0.40;

    vec4 result;
    if (inner > 0.01 && d < uRadius - halfW)
        result = vec4(uColor.rgb, inner);
    else if (colored >= haloBand * 0.5)
        result = vec4(uColor.rgb, colored);
    else
        result = vec4(1.0, 1.0, 1.0, haloBand * 0.85);
    if (result.a < 0.01) discard;
    fragColor = result;
}
