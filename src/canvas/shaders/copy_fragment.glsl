// One texel of the source per pixel, untouched: an exact copy of an image of the same size.
uniform sampler2D uSource;
out vec4 fragColor;

void main()
{
    fragColor = texelFetch(uSource, ivec2(gl_FragCoord.xy), 0);
}
