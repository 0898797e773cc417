uniform vec2 uCenter;  // drawable pixels, top-left origin
uniform vec2 uViewSize;
uniform float uRadius;
uniform float uRingWidth;
out vec2 vLocal;

const vec2 kCorners[6] = vec2[6](vec2(-1.0, -1.0), vec2(1.0, -1.0), vec2(-1.0, 1.0),
                                 vec2(1.0, -1.0), vec2(1.0, 1.0), vec2(-1.0, 1.0));

void main()
{
    vec2 offset = kCorners[gl_VertexID] * (uRadius + uRingWidth + 2.0);
    vec2 p = (uCenter + offset) / uViewSize;
    gl_Position = vec4(p.x * 2.0 - 1.0, 1.0 - p.y * 2.0, 0.0, 1.0);
    vLocal = offset;
}
