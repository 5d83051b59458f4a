# Send path of the Icecast source client against a real local Icecast.
add_executable(bench_icecast_send bench_icecast_send.cpp)
target_link_libraries(bench_icecast_send PRIVATE doredoradar_broadcast doredoradar_test_support)

# The protocol's pure functions under libFuzzer (see DOREDORADAR_BUILD_FUZZERS); bench/fuzz.sh
# runs it with the fuzz targets in tests/fuzz.
if(DOREDORADAR_BUILD_FUZZERS)
    add_executable(fuzz_icecast_wire fuzz_icecast_wire.cpp
        ${PROJECT_SOURCE_DIR}/src/broadcast/icecast_wire.cpp)
    target_include_directories(fuzz_icecast_wire PRIVATE ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(fuzz_icecast_wire PRIVATE -fsanitize=fuzzer,address,undefined
        -fno-sanitize-recover=undefined)
    target_link_options(fuzz_icecast_wire PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
