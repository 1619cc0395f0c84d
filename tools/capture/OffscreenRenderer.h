#pragma once

// Draws a demo's frames offscreen, at times the caller chooses, with the
// player's own components: its textures, its sync driver reading the track
// files (no editor link, as in release mode) and its shader program. The
// window is invisible and only holds the OpenGL context; every frame is drawn
// into a framebuffer object of the capture size and read back from there, so
// the picture never depends on a screen, and works on a virtual display.
//
// Use: open(configuration, width, height); then for each frame render(t) and
// readBack(pixels); close() (or the destructor) releases it all. Paths in the
// configuration, track files included, are relative to the working
// directory, as in the player.

#include "Configuration.h"
#include "Cosmonaut.h"
#include "Shader.h"
#include "TextureManager.h"

#include <cstdint>
#include <string>
#include <vector>

struct GLFWwindow;

namespace Tolvane::Capture {

class OffscreenRenderer {
public:
    OffscreenRenderer();
    ~OffscreenRenderer();
    OffscreenRenderer(const OffscreenRenderer&) = delete;
    OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;

    // Opens the context of the configuration's OpenGL version, a width x
    // height framebuffer, and the demo's textures, tracks and shader. The
    // shader's "resolution" is the capture size. Returns false with the
    // reason in error (no display, a size past the GL's limits, a shader
    // that does not build, ...); what the player would put up with silently
    // but that spoils a capture (a missing track file or image) is added to
    // warnings, and the capture goes on.
    bool open(const Configuration& configuration, int width, int height, std::string& error,
              std::vector<std::string>& warnings);

    // Draws the frame for the tune position seconds: the sync tracks are
    // sampled at that time's row and the shader's "time" is that time.
    void render(double seconds);

    // The frame last drawn, top row first, 4 bytes (RGBA) a pixel; pixels is
    // resized to fit.
    void readBack(std::vector<uint8_t>& pixels);

    // Releases the GL objects, the context and the sync device.
    void close();

    // The last open() failed because the GL cannot draw a frame that large.
    bool sizeRefused() const { return sizeTooLarge; }

    int width() const { return frameWidth; }
    int height() const { return frameHeight; }

private:
    bool createFramebuffer(std::string& error);
    void checkTracks(const Configuration& configuration, std::vector<std::string>& warnings);
    void checkTextures(const Configuration& configuration, std::vector<std::string>& warnings);

    GLFWwindow* window = nullptr;
    bool windowSystemUp = false;
    // The GL entry points are loaded and the context is current.
    bool glLoaded = false;
    bool cosmonautUp = false;
    uint32_t framebuffer = 0;
    uint32_t colourBuffer = 0;
    bool sizeTooLarge = false;
    int frameWidth = 0;
    int frameHeight = 0;
    std::vector<uint8_t> bottomUp;
    Cosmonaut cosmonaut;
    Shader shader;
    TextureManager textureManager;
};

} // namespace Tolvane::Capture
