// The eraser's tip: how much of the ink under it goes, firm to its edge and soft just inside
// it. The blend takes it from the ink's alpha only (see InkLayer::paint).
void main()
{
    vec2 local = brushLocal(vCenter, vExtent);
    float d = length(local);
    if (d > 1.0) discard;
    fragColor = vec4(0.0, 0.0, 0.0, sstep(1.0, 0.82, d) * vOpacity);
}
