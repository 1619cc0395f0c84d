#version 330 core

// The player draws one quad over the whole screen; its corners arrive at
// attribute 0 already in normalised device coordinates.
layout(location = 0) in vec3 position;

void main() {
    gl_Position = vec4(position, 1.0);
}
