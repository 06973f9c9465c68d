# make demo   set everything up and run the viewer on the built-in test pattern
# make test   set everything up and run every test
.PHONY: all deps build test layout-test install-test demo workspace viewer-demo clean package tessel tessel-test viewer viewer-test equalize-arm64 bench fuzz fuzz-build fuzz-test soak

B := $(CURDIR)/build
JOBS ?= 2

# Debian packages the project needs, installed once.
DEB_TESSEL := cmake g++ libgtest-dev pkg-config g++-arm-linux-gnueabihf libc6-dev-armhf-cross qemu-user \
  qemu-system-arm cpio
# The equalization core for 64-bit ARM (its NEON path), tested under qemu-aarch64.
DEB_ARM64 := g++-aarch64-linux-gnu libc6-dev-arm64-cross
# What the demo builds and runs, no more: the ROS core for a C++ node and
# roslaunch, nodelets (the viewer and its source share one process),
# libjpeg-turbo (the relay decodes JPEG itself),
# OpenCV's five modules one by one (libopencv-dev and
# python3-opencv pull in every module, VTK included), an X server for
# machines without a display, and python3-xlib for the screenshot.
DEB_DEMO := cmake g++ make catkin libroscpp-dev libstd-msgs-dev ros-std-msgs libsensor-msgs-dev python3-genpy python3-genmsg \
  libnodeletlib-dev libjpeg62-turbo-dev \
  python3-roslaunch python3-rosservice libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev \
  libopencv-videoio-dev libopencv-highgui-dev libx11-dev xvfb xauth python3-xlib
# The viewer's tests on top: the ROS tools they drive (the stock nodelet
# manager and loader among them), rosbag (and std_srvs, its pause service),
# OpenCV for Python to look at screenshots, GoogleTest, xkill (x11-utils),
# valgrind; for the two-host test iproute2 (its network namespaces) and
# Debian's image_view (the floor it is measured against).
DEB_VIEWER := $(DEB_DEMO) libgtest-dev rosbash libnodeletlib-tools python3-rosmaster python3-rostopic python3-rosnode python3-rospy \
  python3-rosbag python3-sensor-msgs python3-std-srvs python3-yaml python3-opencv python3-numpy x11-utils libbenchmark-dev valgrind \
  iproute2 libimage-view-dev
# libFuzzer and the sanitizer runtimes for clang: clang only recommends them.
DEB_FUZZ := clang libclang-rt-14-dev
# The viewer's packages checked: lintian, and a fresh Debian root to install them in.
DEB_PACKAGING := lintian debootstrap
DEB := $(DEB_TESSEL) $(DEB_ARM64) $(DEB_VIEWER) $(DEB_FUZZ) $(DEB_PACKAGING)

all: build

# Installs the Debian packages named in $(1) that are missing. A mirror in
# the middle of a sync fails apt-get update for a while: it is tried three
# times, and then the install itself decides.
define install
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  sh tessel/board/apt-update; \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install,$(DEB))

build: deps tessel viewer equalize-arm64

# The catkin workspace lives in build/: its src/ links to the two packages.
# catkin_args(BUILD, DEVEL): a build directory and its devel space.
catkin_args = --source $(B)/ws/src --build $(1) -DCATKIN_DEVEL_PREFIX=$(2) \
  -DPYTHON_EXECUTABLE=/usr/bin/python3 -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=Release
workspace:
	mkdir -p $(B)/ws/src
	ln -sfn $(CURDIR)/image_msgs $(B)/ws/src/image_msgs
	ln -sfn $(CURDIR)/webcam $(B)/ws/src/webcam
viewer: workspace
	catkin_make $(call catkin_args,$(B)/catkin,$(B)/devel) -DWEBCAM_TESTS=ON -DIMAGE_MSGS_SANITIZED=ON -j$(JOBS)
# The viewer and the image source alone, no tests, no sanitized twins: in a
# build directory of its own, so that make demo and make test do not
# reconfigure each other's.
DEMO_DEVEL := $(B)/demo-ws/devel
viewer-demo: workspace
	catkin_make $(call catkin_args,$(B)/demo-ws/catkin,$(DEMO_DEVEL)) -DWEBCAM_TESTS=OFF -DIMAGE_MSGS_SANITIZED=OFF \
	  -j$(JOBS)

# tessel: native with its tests, native under ASan+UBSan, and 32-bit ARM.
tessel:
	cmake -S tessel -B $(B)/tessel -DTESSEL_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(B)/tessel -j$(JOBS)
	cmake -S tessel -B $(B)/tessel-asan -DTESSEL_TESTS=ON -DTESSEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(B)/tessel-asan -j$(JOBS)
	cmake -S tessel -B $(B)/tessel-arm -DTESSEL_TESTS=ON -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/tessel/cmake/arm-linux-gnueabihf.cmake >/dev/null
	cmake --build $(B)/tessel-arm -j$(JOBS)

# The viewer's cores alone, the canvas scaling and the equalization,
# cross-built for 64-bit ARM.
equalize-arm64:
	cmake -S webcam/canvas -B $(B)/cores-arm64 -DEQUALIZE_TESTS=ON -DCANVAS_TESTS=ON -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/webcam/equalize/cmake/aarch64-linux-gnu.cmake >/dev/null
	cmake --build $(B)/cores-arm64 -j$(JOBS)

# Debian packages of tessel for amd64 and armhf, and of the viewer and
# image_msgs for amd64, in build/packages. (CMake picks the multiarch library
# directory itself only for native builds.)
PKG_ARGS := -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release
package: deps workspace
	cmake -S tessel -B $(B)/tessel-pkg $(PKG_ARGS) >/dev/null
	cmake --build $(B)/tessel-pkg -j$(JOBS)
	cd $(B)/tessel-pkg && cpack >/dev/null
	cmake -S tessel -B $(B)/tessel-pkg-armhf $(PKG_ARGS) -DCMAKE_INSTALL_LIBDIR=lib/arm-linux-gnueabihf \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/tessel/cmake/arm-linux-gnueabihf.cmake >/dev/null
	cmake --build $(B)/tessel-pkg-armhf -j$(JOBS)
	cd $(B)/tessel-pkg-armhf && cpack >/dev/null
	rm -rf $(B)/packages && mkdir -p $(B)/packages
	cp $(B)/tessel-pkg/*.deb $(B)/tessel-pkg-armhf/*.deb $(B)/packages/
	JOBS=$(JOBS) webcam/packaging/build-debs $(B)/ws/src $(B)/viewer-pkg $(B)/packages
	@ls $(B)/packages

# The viewer as users install it: lintian on its .debs; the .debs
# installed, run and purged in a fresh Debian 12 root (its debootstrap
# tarball kept in build/fresh-root); and a catkin install space alone, with an
# outside package built on it. The fresh root waits mostly on the mirror and
# dpkg, the install space on the compiler: they run side by side.
install-test: package
	@echo "== orlin: lintian on the Debian packages"
	cd $(B)/packages && lintian --fail-on error orlin_*.deb orlin-image-msgs_*.deb
	@echo "== orlin: catkin_make install, then the install space alone; the .debs in a fresh Debian 12 root"
	@webcam/packaging/fresh-root-test $(B)/packages $(B)/fresh-root >$(B)/fresh-root.log 2>&1 & root=$$!; \
	/usr/bin/python3 webcam/test/install_space.py $(B)/install-check image_msgs webcam; space=$$?; \
	wait $$root; fresh=$$?; echo "-- the .debs in a fresh Debian 12 root:"; cat $(B)/fresh-root.log; \
	test $$space = 0 && test $$fresh = 0

tessel-test: package
	@echo "== tessel, Debian packages"
	sh tessel/test/packages.sh $(B)/packages $(CURDIR)/tessel $(B)/package-check
	@echo "== tessel, native"
	cd $(B)/tessel && ctest --output-on-failure
	@echo "== tessel, native under AddressSanitizer and UndefinedBehaviorSanitizer"
	cd $(B)/tessel-asan && ctest --output-on-failure
	@echo "== tessel, 32-bit ARM under qemu-arm"
	@arm-linux-gnueabihf-objdump -f $(B)/tessel-arm/libtessel.a | grep -q 'elf32-littlearm' || { echo "libtessel.a is not ARM"; exit 1; }
	cd $(B)/tessel-arm && ctest --output-on-failure
	@echo "== tessel on a real Linux I2C stack: emulated AST2600 board, Debian's armhf kernel"
	WORK=$(B)/board TOOL=$(B)/tessel-arm/tessel-smbus tessel/board/run $(B)/tessel-arm/board/tessel_board_test

viewer-test:
	@echo "== orlin: the canvas scaling and the equalization on 64-bit ARM (NEON) under qemu-aarch64"
	cd $(B)/cores-arm64 && ctest --output-on-failure
	@echo "== orlin: unit tests (ASan+UBSan), in-process, end to end with a master and Xvfb"
	cd $(B)/catkin && ctest --output-on-failure -j2

# Fuzzing: tessel and the viewer's workspace once more, compiled by clang
# with libFuzzer's instrumentation, ASan and UBSan throughout.
FUZZ_SECONDS ?= 20
FUZZ_FLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
fuzz-build: deps viewer
	cmake -S tessel -B $(B)/tessel-fuzz -DCMAKE_CXX_COMPILER=clang++ -DTESSEL_FUZZ=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(B)/tessel-fuzz -j$(JOBS) --target tessel_fuzz_transfer
	catkin_make --source $(B)/ws/src --build $(B)/catkin-fuzz -DCATKIN_DEVEL_PREFIX=$(B)/devel-fuzz \
	  -DPYTHON_EXECUTABLE=/usr/bin/python3 -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DWEBCAM_FUZZ=ON -DWEBCAM_TESTS=OFF -DIMAGE_MSGS_SANITIZED=OFF \
	  "-DCMAKE_CXX_FLAGS=$(FUZZ_FLAGS)" -j$(JOBS) fuzz_bridge fuzz_decode fuzz_relay

# About a minute in all within make test; make fuzz FUZZ_SECONDS=3600 for longer.
fuzz-test: fuzz-build
	@echo "== fuzzing, $(FUZZ_SECONDS) s a target"
	sh fuzz/run $(FUZZ_SECONDS) $(B)

fuzz: FUZZ_SECONDS = 600
fuzz: fuzz-test

# The layout: includes run only downward between rooms, no circles, no
# room over a quarter of the C++ (rooms and floors in check/includes.py).
layout-test:
	@echo "== the layout: includes between rooms"
	python3 check/includes.py -v

test: build layout-test tessel-test viewer-test install-test fuzz-test

# The viewer on the moving test pattern, shown; headless: under Xvfb, with a screenshot.
demo:
	$(call install,$(DEB_DEMO))
	$(MAKE) viewer-demo
	$(DEMO_DEVEL)/env.sh /usr/bin/python3 webcam/scripts/demo.py $(B)/demo

# Speed, as ratios against a baseline measured in the same run: the
# equalization against its reference, the viewer fed directly and the path
# users run (a sensor_msgs camera, the relay, our roslaunch lines) against
# Debian's image_view.
DEB_BENCH := libimage-view-dev libnodeletlib-tools linux-perf
# BEFORE: the commit whose viewer the camera path is measured against in the
# same run, built apart (the last one before the viewer's own scaling).
BEFORE ?= d06202a
bench: build
	$(call install,$(DEB_BENCH))
	BUILD=$(B)/bench sh bench/run
	bench/before $(BEFORE) $(B)/before
	$(B)/devel/env.sh /usr/bin/python3 -W ignore bench/viewer_cpu.py
	BEFORE_DEVEL=$(B)/before/devel $(B)/devel/env.sh /usr/bin/python3 -W ignore bench/camera_path.py

# The viewer's resident memory over minutes of shown, hidden and equalized
# frames (make test runs the same for 40 s).
SOAK_SECONDS ?= 600
soak: build
	SOAK_SECONDS=$(SOAK_SECONDS) WEBCAM_DEVEL=$(B)/devel $(B)/devel/env.sh /usr/bin/python3 -W ignore \
	  webcam/test/test_load_soak_e2e.py Soak

clean:
	rm -rf $(B)
