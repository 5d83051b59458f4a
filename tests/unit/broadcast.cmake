# The command-line broadcaster's arguments (its sources are the executable's own).
doredoradar_add_test(test_cli_options LABEL unit SOURCES test_cli_options.cpp
    ${PROJECT_SOURCE_DIR}/src/app/cli_options.cpp ${PROJECT_SOURCE_DIR}/src/app/cli_options.h)
