// One instance per stamp; the attributes are the stamp's parameter block.
layout(location = 0) in vec4 aCenterCanvasSize;  // centre (canvas px), canvas size
layout(location = 1) in vec4 aColor;
layout(location = 2) in vec4 aRadiusOpacitySeed;  // radius (canvas px), opacity, seed, 0

flat out vec2 vCenter;
flat out float vExtent;
flat out vec3 vColor;
flat out float vOpacity;
flat out float vSeed;

// Vertices 0-5 are the stamp's square as two triangles; vertex 6 is its centre, drawn as one
// point sprite of the same square.
const vec2 kCorners[7] = vec2[7](vec2(-1.0, -1.0), vec2(1.0, -1.0), vec2(-1.0, 1.0),
                                 vec2(1.0, -1.0), vec2(1.0, 1.0), vec2(-1.0, 1.0), vec2(0.0, 0.0));

void main()
{
    float extent = aRadiusOpacitySeed.x * 1.3;
    vec2 canvasPx = aCenterCanvasSize.xy + kCorners[gl_VertexID] * extent;
    gl_PointSize = 2.0 * extent;
    // Row 0 of the canvas image is the canvas's top edge, so y needs no flip here.
    gl_Position = vec4(canvasPx / aCenterCanvasSize.zw * 2.0 - 1.0, 0.0, 1.0);
    vCenter = aCenterCanvasSize.xy;
    vExtent = extent;
    vColor = aColor.rgb;
    vOpacity = aRadiusOpacitySeed.y;
    vSeed = aRadiusOpacitySeed.z;
}
