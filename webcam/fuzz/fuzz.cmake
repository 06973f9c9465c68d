# libFuzzer targets. The workspace is then compiled by clang with
# -fsanitize=fuzzer-no-link,address,undefined throughout (see the Makefile's
# fuzz-build), so the libraries under test are instrumented; the targets
# add libFuzzer's main.
# webcam_fuzzer(NAME LIBRARY...): fuzz_NAME from fuzz/NAME_fuzz.cpp.
function(webcam_fuzzer name)
  add_executable(fuzz_${name} fuzz/${name}_fuzz.cpp)
  add_dependencies(fuzz_${name} webcam_records)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${name} ${ARGN})
endfunction()

webcam_fuzzer(bridge webcam_viewer)
webcam_fuzzer(decode webcam_viewer)
webcam_fuzzer(relay webcam_relay ${catkin_LIBRARIES})
