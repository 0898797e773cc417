uniform vec2 uSize;  // drawable pixels
uniform float uTime;  // frame clock; no current shading reads it
uniform float uZoom;
uniform vec2 uPan;
uniform sampler2D uCanvas;
uniform sampler2D uLineArt;
// The paper baked from paperColor(): it depends on the canvas coordinate only, and is smooth
// enough that a bilinear sample stays within a fraction of an 8-bit level of the formula.
uniform sampler2D uPaper;
out vec4 fragColor;

void main()
{
    // View coordinate with a top-left origin, from the pixel centre.
    vec2 uv = vec2(gl_FragCoord.x / uSize.x, 1.0 - gl_FragCoord.y / uSize.y);
    // The canvas is square whatever the view's shape: it spans the shorter side at zoom 1.
    vec2 square = (uv - 0.5) * (uSize / min(uSize.x, uSize.y)) + 0.5;
    vec2 c = (square - 0.5) / uZoom + 0.5 + uPan;
    if (c.x < 0.0 || c.x > 1.0 || c.y < 0.0 || c.y > 1.0) {
        fragColor = vec4(0.0);
        return;
    }
    vec4 ink = texture(uCanvas, c);
    vec4 lines = texture(uLineArt, c);
    vec3 rgb = mix(texture(uPaper, c).rgb, ink.rgb, ink.a);
    rgb = mix(rgb, lines.rgb, lines.a);
    fragColor = vec4(rgb, 1.0);
}
