# The painted controls, read back pixel by pixel.
doredoradar_add_test(test_controls LABEL gui SOURCES test_controls.cpp LIBS doredoradar_ui)
