# tolvane-editor, the sync tracker editor: the link (also the test editor's),
# the document model (no GL, unit-tested without a window) and the window.
add_library(tolvane_editor_link STATIC ${CMAKE_CURRENT_SOURCE_DIR}/editor/EditorLink.cpp)
target_include_directories(tolvane_editor_link PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/editor)
target_link_libraries(tolvane_editor_link PUBLIC sync Threads::Threads)

# The document and the session: no window, no GL (unit-tested on their own).
add_library(tolvane_editor_model STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/Document.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/Session.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/Waveform.cpp)
target_include_directories(tolvane_editor_model PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/editor)
# The player's track-file base name, from its header only.
target_include_directories(tolvane_editor_model PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tolvane_editor_model PUBLIC sync tolvane_editor_link PkgConfig::SNDFILE)

pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
# The window on top of the model (a library too, for the drawing benchmark).
add_library(tolvane_editor_ui STATIC ${CMAKE_CURRENT_SOURCE_DIR}/editor/EditorWindow.cpp)
target_include_directories(tolvane_editor_ui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/editor)
target_include_directories(tolvane_editor_ui PRIVATE ${IMGUI_INCLUDEDIR}/backends)
target_link_libraries(tolvane_editor_ui PUBLIC tolvane_editor_model PkgConfig::IMGUI PkgConfig::GLFW OpenGL::GL ${CMAKE_DL_LIBS})

add_executable(tolvane-editor ${CMAKE_CURRENT_SOURCE_DIR}/editor/main.cpp)
# tolvane_core: the configuration reader and the player's own track naming.
target_link_libraries(tolvane-editor PRIVATE tolvane_editor_ui tolvane_core)
install(TARGETS tolvane-editor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
