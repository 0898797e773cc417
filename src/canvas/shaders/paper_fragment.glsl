// Bakes the paper once at start-up: row 0 of the paper image is the canvas's top edge, and
// texel centres sit where the composite samples them at zoom 1.
uniform vec2 uPaperSize;
out vec4 fragColor;

void main()
{
    fragColor = vec4(paperColor(gl_FragCoord.xy / uPaperSize), 1.0);
}
