// The demo's post pass: the whole picture, zoomed a little towards the
// middle on every bass hit, each column tinted by the spectrum band under
// it, and brightened with the music's level. Edit and save it while the
// demo runs: an error shows at the bottom of the view and the last good
// version stays.
uniform sampler2D frame, spectrum;
uniform float time, level;
varying vec2 uv;

void main() {
    float bass = texture2D(spectrum, vec2(4.5 / 64.0, 0.5)).r;
    vec2 p = (uv - 0.5) / (1.0 + 0.08 * bass) + 0.5;
    vec3 c = texture2D(frame, p).rgb;
    float band = texture2D(spectrum, vec2(uv.x, 0.5)).r;
    c += vec3(0.3 * band * band, 0.1 * level, 0.25 * (1.0 - uv.y) * band);
    gl_FragColor = vec4(c * (0.85 + 0.3 * level), 1.0);
}
