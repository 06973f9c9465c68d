# make demo   set everything up and run the viewer on the built-in test pattern
# make test   set everything up and run every test
.PHONY: all deps build test demo clean tessel tessel-test

B := $(CURDIR)/build
JOBS ?= 2

# Debian packages the project needs, installed once.
DEB_TESSEL := cmake g++ libgtest-dev pkg-config g++-arm-linux-gnueabihf libc6-dev-armhf-cross qemu-user
DEB := $(DEB_TESSEL)

all: build

deps:
	@missing=$$(for p in $(DEB); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

build: deps tessel

# tessel: native with its tests, native under ASan+UBSan, and 32-bit ARM.
tessel:
	cmake -S tessel -B $(B)/tessel -DTESSEL_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(B)/tessel -j$(JOBS)
	cmake -S tessel -B $(B)/tessel-asan -DTESSEL_TESTS=ON -DTESSEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(B)/tessel-asan -j$(JOBS)
	cmake -S tessel -B $(B)/tessel-arm -DTESSEL_TESTS=ON -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/tessel/cmake/arm-linux-gnueabihf.cmake >/dev/null
	cmake --build $(B)/tessel-arm -j$(JOBS)

tessel-test:
	@echo "== tessel, native"
	cd $(B)/tessel && ctest --output-on-failure
	@echo "== tessel, native under AddressSanitizer and UndefinedBehaviorSanitizer"
	cd $(B)/tessel-asan && ctest --output-on-failure
	@echo "== tessel, 32-bit ARM under qemu-arm"
	@arm-linux-gnueabihf-objdump -f $(B)/tessel-arm/libtessel.a | grep -q 'elf32-littlearm' || { echo "libtessel.a is not ARM"; exit 1; }
	cd $(B)/tessel-arm && ctest --output-on-failure

test: build tessel-test

demo: build
	$(B)/tessel/test/tessel_demo

clean:
	rm -rf $(B)
