# Shader program, frame render, textures: real GL under a private display.
tolvane_add_test(NAME ShaderTest SOURCES ShaderTest.cpp DISPLAY)
tolvane_add_test(NAME TextureTest SOURCES TextureTest.cpp DISPLAY)
