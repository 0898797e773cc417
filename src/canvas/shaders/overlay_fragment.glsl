uniform sampler2D uImage;  // premultiplied, row 0 at the top
in vec2 vUv;
out vec4 fragColor;

void main()
{
    fragColor = texture(uImage, vUv);
}
