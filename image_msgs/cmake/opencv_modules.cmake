# find_opencv_modules(module...): OpenCV's modules one by one, as Debian's
# per-module packages (libopencv-core-dev, libopencv-highgui-dev, ...) install
# them. OpenCV's own CMake package comes only with libopencv-dev, which pulls
# in every module and VTK. Sets OpenCV_INCLUDE_DIRS, and OpenCV_LIBS and
# OpenCV_LIBRARIES to the modules' libraries.
macro(find_opencv_modules)
  find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
  set(OpenCV_INCLUDE_DIRS ${OpenCV_INCLUDE_DIR})
  set(OpenCV_LIBS)
  foreach(module ${ARGN})
    find_library(OpenCV_${module}_LIBRARY opencv_${module} REQUIRED)
    list(APPEND OpenCV_LIBS ${OpenCV_${module}_LIBRARY})
  endforeach()
  set(OpenCV_LIBRARIES ${OpenCV_LIBS})
endmacro()
