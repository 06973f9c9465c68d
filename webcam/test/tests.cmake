# Unit tests, and the viewer once more under AddressSanitizer and
# UndefinedBehaviorSanitizer for the end-to-end runs.
find_package(GTest REQUIRED)
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(BRIDGE_SOURCES ${PROJECT_SOURCE_DIR}/../image_msgs/src/CvBridge.cpp
                   ${PROJECT_SOURCE_DIR}/../image_msgs/src/ImageFromMat.cpp)

add_executable(orlin_asan src/main.cpp ${VIEWER_SOURCES} ${BRIDGE_SOURCES})
add_dependencies(orlin_asan webcam_records)
target_compile_options(orlin_asan PRIVATE ${SANITIZE} -g)
target_link_options(orlin_asan PRIVATE ${SANITIZE})
target_link_libraries(orlin_asan ${catkin_LIBRARIES} ${OpenCV_LIBS})

add_executable(webcam_unit_tests test/equalize_test.cpp test/bridge_test.cpp test/records_test.cpp
               src/display.cpp src/equalize.cpp ${BRIDGE_SOURCES})
add_dependencies(webcam_unit_tests webcam_records)
target_compile_options(webcam_unit_tests PRIVATE ${SANITIZE} -g)
target_link_options(webcam_unit_tests PRIVATE ${SANITIZE})
target_link_libraries(webcam_unit_tests GTest::gtest GTest::gtest_main ${catkin_LIBRARIES} ${OpenCV_LIBS})

include(GoogleTest)
gtest_discover_tests(webcam_unit_tests)
