tolvane_add_test(NAME MusicTest SOURCES MusicTest.cpp)
