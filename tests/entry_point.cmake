tolvane_add_test(NAME EntryPointTest SOURCES EntryPointTest.cpp DISPLAY)
