# Unit tests, and the viewer once more under AddressSanitizer and
# UndefinedBehaviorSanitizer for the end-to-end runs.
find_package(GTest REQUIRED)
set(BRIDGE_SOURCES ${PROJECT_SOURCE_DIR}/../image_msgs/src/CvBridge.cpp
                   ${PROJECT_SOURCE_DIR}/../image_msgs/src/ImageFromMat.cpp)

# An executable built with AddressSanitizer and UndefinedBehaviorSanitizer,
# the bridge compiled in so that its reads are checked too.
function(sanitized_executable name)
  set(sanitize -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_executable(${name} ${ARGN} ${BRIDGE_SOURCES})
  add_dependencies(${name} webcam_records)
  target_compile_options(${name} PRIVATE ${sanitize} -g)
  target_link_options(${name} PRIVATE ${sanitize})
  target_link_libraries(${name} ${catkin_LIBRARIES} ${OpenCV_LIBS})
endfunction()

sanitized_executable(orlin_asan src/main.cpp ${VIEWER_SOURCES})

sanitized_executable(webcam_unit_tests test/equalize_test.cpp test/bridge_test.cpp test/records_test.cpp
                     src/display.cpp src/equalize.cpp)
target_link_libraries(webcam_unit_tests GTest::gtest GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(webcam_unit_tests)

sanitized_executable(viewer_test test/viewer_test.cpp ${VIEWER_SOURCES})
target_link_libraries(viewer_test GTest::gtest)

# End to end: a master, Xvfb and the real ROS tools, started by the tests.
set(E2E ${CATKIN_DEVEL_PREFIX}/env.sh /usr/bin/python3 -W ignore)
set(E2E_ENV "WEBCAM_DEVEL=${CATKIN_DEVEL_PREFIX}"
    "ASAN_OPTIONS=detect_leaks=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/test/lsan.supp:print_suppressions=0")
add_test(NAME viewer_in_process COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/run_with_graph.py
         ${CATKIN_DEVEL_PREFIX}/lib/webcam/viewer_test)
add_test(NAME viewer_end_to_end COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/test_viewer_e2e.py)
add_test(NAME image_sources_end_to_end COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/test_sources_e2e.py)
add_test(NAME demo_headless COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/test_demo.py)
add_test(NAME viewer_malformed_frames_asan COMMAND ${E2E} ${PROJECT_SOURCE_DIR}/test/test_malformed_e2e.py)
set_tests_properties(viewer_in_process viewer_end_to_end image_sources_end_to_end demo_headless viewer_malformed_frames_asan
                     PROPERTIES ENVIRONMENT "${E2E_ENV}" RUN_SERIAL TRUE TIMEOUT 900)
