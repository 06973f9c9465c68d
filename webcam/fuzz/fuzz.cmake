# libFuzzer targets. The workspace is then compiled by clang with
# -fsanitize=fuzzer-no-link,address,undefined throughout (see the Makefile's
# fuzz-build), so the libraries under test are instrumented; the targets
# add libFuzzer's main.
foreach(target bridge decode)
  add_executable(fuzz_${target} fuzz/${target}_fuzz.cpp)
  add_dependencies(fuzz_${target} webcam_records)
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${target} webcam_viewer)
endforeach()

add_executable(fuzz_relay fuzz/relay_fuzz.cpp)
target_link_options(fuzz_relay PRIVATE -fsanitize=fuzzer)
target_link_libraries(fuzz_relay webcam_relay ${catkin_LIBRARIES})
