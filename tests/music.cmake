tolvane_add_test(NAME MusicTest SOURCES MusicTest.cpp)
target_compile_definitions(MusicTest PRIVATE AUDIO_PACKAGE_VERSION="${SDL2_VERSION}")
# The music tests listen to audio played in real time; a software-rendering
# test beside them can starve the decoder, so they run alone.
set_tests_properties(MusicTest PROPERTIES RUN_SERIAL TRUE)
if(WIN32)
    # Under Wine, the cases that read back what SDL's disk driver plays see
    # nothing arrive (not yet understood); the rest of the file runs.
    set_tests_properties(MusicTest PROPERTIES ENVIRONMENT
        "SDL_AUDIODRIVER=dummy;GTEST_FILTER=-*SeekLandsOnExactSample:*SeekAtAnotherDeviceRate*:*PauseFreezesAndPlayResumes*:*PositionMovesSmoothlyOnAPlayingDevice:*SilenceMutesFirst*:*ADecoderLeftBehind*")
endif()
tolvane_add_test(NAME TuneDecoderTest SOURCES TuneDecoderTest.cpp)
