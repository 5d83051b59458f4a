# The command-line broadcaster's arguments (its sources are the executable's own).
doredoradar_add_test(test_cli_options LABEL unit LIBS doredoradar_audio SOURCES test_cli_options.cpp
    ${PROJECT_SOURCE_DIR}/src/app/cli_options.cpp ${PROJECT_SOURCE_DIR}/src/app/cli_options.h)
target_include_directories(test_cli_options PRIVATE ${DOREDORADAR_APP_INCLUDE_ROOT})
