// An image over the frame, one image texel per drawable pixel, its top-left corner at uOrigin.
uniform vec2 uViewSize;  // drawable pixels
uniform vec2 uImageSize;
uniform vec2 uOrigin;  // drawable pixels, top-left origin
out vec2 vUv;

const vec2 kCorners[6] = vec2[6](vec2(0.0, 0.0), vec2(1.0, 0.0), vec2(0.0, 1.0),
                                 vec2(1.0, 0.0), vec2(1.0, 1.0), vec2(0.0, 1.0));

void main()
{
    vec2 p = (uOrigin + kCorners[gl_VertexID] * uImageSize) / uViewSize;
    gl_Position = vec4(p.x * 2.0 - 1.0, 1.0 - p.y * 2.0, 0.0, 1.0);
    vUv = kCorners[gl_VertexID];
}
