doredoradar_add_test(test_dialogs LABEL gui SOURCES test_dialogs.cpp LIBS doredoradar_ui)
# An install leaves the executables and, beside them, the license texts the dialog reads.
add_test(NAME test_install_licenses COMMAND sh -c [[rm -rf "$0" && "$1" --install "$2" --prefix "$0" > /dev/null && test -x "$0/bin/doredoradar" && diff -r "$3" "$0/bin/licenses"]]
    ${CMAKE_CURRENT_BINARY_DIR}/install_check ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR}
    ${PROJECT_SOURCE_DIR}/resources/licenses)
set_tests_properties(test_install_licenses PROPERTIES LABELS unit TIMEOUT 60)
