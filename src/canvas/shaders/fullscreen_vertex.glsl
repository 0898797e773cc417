// The whole view; the composite derives the view coordinate from the pixel centre.
const vec2 kCorners[6] = vec2[6](vec2(-1.0, -1.0), vec2(1.0, -1.0), vec2(-1.0, 1.0),
                                 vec2(1.0, -1.0), vec2(1.0, 1.0), vec2(-1.0, 1.0));

void main()
{
    gl_Position = vec4(kCorners[gl_VertexID], 0.0, 1.0);
}
