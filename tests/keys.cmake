# End-to-end tests of the keyboard controls and the on-screen log against the
# real player, each on a private virtual display. The keyboard tests need a
# window manager (F maximises and restores).
tolvane_add_test(NAME OverlayTest SOURCES OverlayTest.cpp DISPLAY)
tolvane_add_test(NAME KeyboardTest SOURCES KeyboardTest.cpp WINDOW_MANAGER)

# The rebuild soak: 200 shader rebuilds in-process and 200 R presses on the
# player, memory and GL objects checked flat. Not part of the ordinary run.
option(TOLVANE_SOAK_TESTS "Register the shader rebuild soak (ctest -L soak)" OFF)
if(TOLVANE_SOAK_TESTS)
    add_test(NAME KeyboardSoak
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-display.sh $<TARGET_FILE:KeyboardTest>
                     --gtest_also_run_disabled_tests --gtest_filter=KeyboardSoak.*)
    set_tests_properties(KeyboardSoak PROPERTIES
        LABELS soak TIMEOUT 1800
        ENVIRONMENT "SDL_AUDIODRIVER=dummy;TOLVANE_TEST_DATA=${TOLVANE_TEST_DATA}")
endif()
