# Unit tests, and the viewer once more under AddressSanitizer and
# UndefinedBehaviorSanitizer for the end-to-end runs. The sanitized build
# also counts its frame callbacks and reports the count at exit.
find_package(GTest REQUIRED)
include(GoogleTest)
# The rooms' sanitized twins come with the rooms (webcam_room).
target_compile_definitions(webcam_viewer_asan PRIVATE WEBCAM_COUNT_FRAMES)

# A sanitized binary on a loaded machine can take longer to list its tests
# than CMake's default 5 s: list them when the tests run, with time to spare.
set(DISCOVERY DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
equalize_test(equalize_paths_test webcam_equalize_asan)
gtest_discover_tests(equalize_paths_test ${DISCOVERY})
core_test(canvas_paths_test canvas/test/paths_test.cpp webcam_canvas_asan webcam_equalize_asan)
gtest_discover_tests(canvas_paths_test ${DISCOVERY})

add_executable(orlin_asan src/programs/orlin.cpp)
target_compile_options(orlin_asan PRIVATE ${SANITIZE})
target_link_libraries(orlin_asan webcam_viewer_asan webcam_process_asan)

# The nodelet manager with the relay and the viewer, sanitized likewise.
add_executable(viewer_manager_asan src/nodelets/viewer_manager.cpp)
target_compile_options(viewer_manager_asan PRIVATE ${SANITIZE})
target_link_libraries(viewer_manager_asan webcam_nodelets_asan)

add_executable(webcam_unit_tests test/equalize_test.cpp test/canvas_test.cpp test/bridge_test.cpp test/records_test.cpp test/relay_test.cpp
                                 test/stream_watch_test.cpp test/source_test.cpp)
target_compile_options(webcam_unit_tests PRIVATE ${SANITIZE})
target_link_libraries(webcam_unit_tests webcam_viewer_asan webcam_source_asan GTest::gtest GTest::gtest_main)
gtest_discover_tests(webcam_unit_tests ${DISCOVERY})

add_executable(viewer_test test/viewer_test.cpp)
target_compile_options(viewer_test PRIVATE ${SANITIZE})
target_link_libraries(viewer_test webcam_viewer_asan GTest::gtest)

# End to end: a master, Xvfb and the real ROS tools, started by the tests.
set(E2E ${CATKIN_DEVEL_PREFIX}/env.sh /usr/bin/python3 -W ignore)
set(E2E_ENV "WEBCAM_DEVEL=${CATKIN_DEVEL_PREFIX}"
    "ASAN_OPTIONS=detect_leaks=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/test/lsan.supp:print_suppressions=0")
add_test(NAME viewer_in_process COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/run_with_graph.py
         ${CATKIN_DEVEL_PREFIX}/lib/webcam/viewer_test)
set(E2E_TESTS viewer_in_process)
foreach(script viewer sources streams exit launch nodelet demo malformed faults restart two_hosts)
  add_test(NAME e2e_${script} COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/test_${script}_e2e.py)
  list(APPEND E2E_TESTS e2e_${script})
endforeach()
add_test(NAME e2e_load COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/test_load_soak_e2e.py Load)
add_test(NAME e2e_soak COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/test_load_soak_e2e.py Soak Memcheck)
list(APPEND E2E_TESTS e2e_load e2e_soak)
set_tests_properties(${E2E_TESTS} PROPERTIES ENVIRONMENT "${E2E_ENV}" TIMEOUT 900)
# ctest -j2 runs them in two lanes, each test with a master, a display and
# ports of its own: the two hosts (network namespaces of their own, two
# thirds of the time on cut links) and a few after it in one, the rest in
# the other; the storm of calls at 1080p60, which wants both cores, alone.
set_tests_properties(viewer_in_process e2e_viewer e2e_sources e2e_streams e2e_exit e2e_launch e2e_nodelet e2e_demo
                     PROPERTIES RESOURCE_LOCK e2e_lane_one)
set_tests_properties(e2e_two_hosts e2e_malformed e2e_faults e2e_restart e2e_soak PROPERTIES RESOURCE_LOCK e2e_lane_two)
set_tests_properties(e2e_two_hosts PROPERTIES COST 10000)
set_tests_properties(e2e_load PROPERTIES RUN_SERIAL TRUE)
