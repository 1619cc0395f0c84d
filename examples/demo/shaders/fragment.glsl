#version 330 core

// Spindrift: a flight down a tunnel of riveted metal plates towards a light.
//
// No ray marching: the wall is hit in one step (the tunnel is a cylinder, or
// a twisted polygon when warp is up), so the picture stays cheap enough for a
// software renderer. Everything that moves comes from the sync tracks below;
// the constants under them set the look. Change one and see what happens.

uniform float time;        // music position in seconds
uniform vec2 resolution;   // configured screen size in pixels
uniform vec2 cam;          // x: distance flown down the tunnel, y: roll (radians)
uniform vec3 tint;         // colour of the light, graded per section
uniform float flash;       // 1 on a beat, falling back to 0
uniform float fade;        // 0 black, 1 the full picture
uniform float warp;        // 0 round tunnel, 1 hexagonal and twisted
uniform vec2 caption;      // x: which line of letters.png (0-3), y: its opacity
uniform sampler2D plates;  // wall maps: r paint, g height, b light strips
uniform sampler2D letters; // four caption lines: r letters, g their glow

layout(location = 0) out vec4 colour;

const float PI = 3.14159265;
const float SIDES = 6.0;      // corners of the tunnel when warp is 1
const float TWIST = 0.3;      // how far the polygon turns per unit of depth
const float PLATES = 3.0;     // plate tiles around the tunnel (2 x 2 panels each)
const float BUMP = 5.0;       // depth of the panel relief
const float FOG = 0.10;       // how soon the tunnel fades into the distance
const float LENS = 1.3;       // focal length: smaller is wider
const float SPARKS = 0.25;    // share of the cells that hold a spark

mat2 rotate(float a) {
    float c = cos(a), s = sin(a);
    return mat2(c, s, -s, c);
}

// A pseudo-random number from 0 to 1 for every point p.
float hash(vec2 p) {
    vec3 q = fract(p.xyx * 0.1031);
    q += dot(q, q.yzx + 33.33);
    return fract((q.x + q.y) * q.z);
}

// Distance from the axis to the wall in direction a: 1 for the round tunnel,
// further out towards the corners of the polygon.
float wallRadius(float a) {
    float sector = 2.0 * PI / SIDES;
    return mix(1.0, 1.0 / cos(mod(a, sector) - 0.5 * sector), warp);
}

// The inward normal of the wall in direction a: towards the axis for the
// round tunnel, square to the face for the polygon.
vec3 wallNormal(float a) {
    float sector = 2.0 * PI / SIDES;
    float face = (floor(a / sector) + 0.5) * sector;
    vec2 n = normalize(mix(vec2(cos(a), sin(a)), vec2(cos(face), sin(face)), warp));
    return vec3(-n, 0.0);
}

void main() {
    vec2 uv = gl_FragCoord.xy / resolution;                        // 0..1
    vec2 p = (2.0 * gl_FragCoord.xy - resolution) / resolution.y;  // centred, y up

    // The camera rolls with the track and sways a little on its own, which
    // moves the vanishing point off the centre.
    vec2 sway = 0.12 * vec2(sin(time * 0.37), cos(time * 0.29));
    vec2 q = rotate(cam.y) * (p - sway);
    vec3 ray = normalize(vec3(q, LENS));
    float spread = length(ray.xy);
    float around = atan(ray.y, ray.x);

    // Where the ray meets the wall. The twist turns the polygon with depth,
    // so the direction is refined twice from a first guess of the depth.
    float hit = 1.0 / spread;
    float twist = 0.0;
    for (int i = 0; i < 2; i++) {
        twist = warp * TWIST * (hit * ray.z + cam.x);
        hit = wallRadius(around + twist) / spread;
    }
    vec3 point = ray * hit;
    float along = point.z + cam.x;                  // distance down the tunnel
    float a = around + twist;                       // direction in the wall's own turn

    // Wall maps, and the relief from the height map's slope.
    float tile = 2.0 * PI / PLATES;
    vec2 st = vec2(a / tile, along / tile);
    // Far away the maps are smoothed towards their average, as mipmaps
    // would, so the distance does not shimmer.
    float blur = smoothstep(6.0, 16.0, hit);
    vec3 wall = texture(plates, st).rgb;
    float e = 1.5 / 256.0;
    float dx = (texture(plates, st + vec2(e, 0.0)).g - wall.g) * (1.0 - blur);
    float dy = (texture(plates, st + vec2(0.0, e)).g - wall.g) * (1.0 - blur);
    wall = mix(wall, vec3(0.5, 0.65, 0.06), blur);
    vec3 n = wallNormal(a);
    vec3 side = vec3(-n.y, n.x, 0.0);
    n = normalize(n - BUMP * (dx * side + dy * vec3(0.0, 0.0, 1.0)));
    n.xy = rotate(-twist) * n.xy;                   // back into the camera's turn

    // A lamp flies ahead of the camera; the plates take its colour.
    vec3 lamp = vec3(0.0, 0.0, 3.0);
    vec3 toLamp = lamp - point;
    float lampDistance = length(toLamp);
    toLamp /= lampDistance;
    float diffuse = max(dot(n, toLamp), 0.0);
    float shine = pow(max(dot(reflect(-toLamp, n), -ray), 0.0), 20.0);
    float falloff = 1.0 / (1.0 + 1.2 * lampDistance * lampDistance);
    vec3 col = tint * (6.0 * diffuse * wall.r * wall.r + 3.0 * shine * wall.g) * falloff * (1.0 + 0.6 * flash);

    // Light strips: dim between beats, blazing on them.
    vec3 stripColour = mix(tint, vec3(1.0), 0.35);
    col += wall.b * stripColour * (0.25 + 2.5 * flash);

    // Fog: the far tunnel dissolves into the colour of the light.
    col = mix(tint * 0.02, col, exp(-FOG * hit));

    // Sparks drifting on two invisible cylinders inside the tunnel.
    for (int i = 0; i < 2; i++) {
        float radius = 0.5 + 0.2 * float(i);
        float depth = ray.z * radius / spread;
        vec2 cell = vec2(around / (2.0 * PI) * 40.0, (depth + cam.x) * 2.0 + 3.7 * float(i));
        vec2 id = floor(cell);
        float h = hash(id + 17.0 * float(i));
        vec2 offset = vec2(h, fract(h * 31.7)) * 0.6 - 0.3;
        vec2 f = (fract(cell) - 0.5 - offset) * vec2(1.0, 0.35);
        float spark = smoothstep(0.08, 0.0, length(f)) * step(1.0 - SPARKS, fract(h * 7.3));
        col += spark * stripColour * (0.5 + 1.5 * flash) * smoothstep(0.5, 3.0, depth) * exp(-0.15 * depth);
    }

    // The light at the end of the tunnel, and faint rays from it.
    float centre = dot(q, q);
    float rays = pow(0.5 + 0.5 * sin(around * 9.0 + time * 0.5), 6.0) * exp(-2.5 * sqrt(centre));
    col += tint * (0.01 / (centre + 0.005) + 0.15 * rays) * (0.7 + 0.8 * flash);

    // Caption: one line of letters.png in a band below the light. The image
    // has its top line first, so the line index counts down the image.
    vec2 band = (p - vec2(0.0, -0.62)) / vec2(1.8, 1.8 / 16.0) + 0.5;
    if (caption.y > 0.0 && band == clamp(band, 0.0, 1.0)) {
        vec2 ink = texture(letters, vec2(band.x, (floor(caption.x + 0.5) + 1.0 - band.y) / 4.0)).rg;
        col = col * (1.0 - 0.7 * ink.g * caption.y) + (ink.r * 1.4 + ink.g * 1.2 * tint) * caption.y;
    }

    // Grade: exposure with a soft shoulder, the fade, a beat flash, gamma,
    // vignette and a little grain against banding.
    col = 1.0 - exp(-col);
    col *= fade;
    col += 0.2 * flash * flash * fade * stripColour;
    col = pow(max(col, 0.0), vec3(1.0 / 2.2));
    col = mix(vec3(dot(col, vec3(0.3, 0.59, 0.11))), col, 1.25);
    col = smoothstep(0.0, 1.0, col);
    col *= 0.3 + 0.7 * pow(16.0 * uv.x * uv.y * (1.0 - uv.x) * (1.0 - uv.y), 0.3);
    col += (hash(gl_FragCoord.xy + fract(time) * 100.0) - 0.5) * 0.025;
    colour = vec4(col, 1.0);
}
