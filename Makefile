# Two commands set everything up on a fresh Debian 12 machine: `make demo` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# ccache, where installed, makes rebuilds in other checkouts of the tree cheap.
ifneq ($(shell command -v ccache 2>/dev/null),)
CMAKE_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR ?= $(CURDIR)
endif
# CI builds treat warnings as errors.
ifeq ($(CI),true)
CMAKE_FLAGS += -DAMBREL_WERROR=ON
endif

# The fuzz targets build with clang in a folder of their own; `make fuzz` runs each for FUZZ_SECONDS.
FUZZ_BUILD_DIR ?= $(BUILD_DIR)/fuzz
FUZZ_SECONDS ?= 60

.PHONY: all bootstrap configure build test test-repeat demo package screenshots format check-windows clean fuzz-build fuzz

all: build

bootstrap:
	@scripts/bootstrap.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: bootstrap $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build fuzz-build
	@if [ -x scripts/check-windows.sh ]; then scripts/check-windows.sh; fi
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	cd $(FUZZ_BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite ROUNDS times under CPU load (a busy loop on every core): not part of `make test`.
ROUNDS ?= 5
test-repeat: build
	scripts/test-repeat.sh $(BUILD_DIR) $(ROUNDS)

$(FUZZ_BUILD_DIR)/build.ninja:
	cmake -S fuzz -B $(FUZZ_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		$(CMAKE_FLAGS)

fuzz-build: bootstrap $(FUZZ_BUILD_DIR)/build.ninja
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS)

fuzz: fuzz-build
	scripts/fuzz.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS)

demo: build
	scripts/demo.sh $(BUILD_DIR)

# The Debian package (.deb) in $(BUILD_DIR)/.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# Every screen of the client, driven through its own widgets under Xvfb, into docs/screenshots/.
screenshots: build
	scripts/screenshots.sh $(BUILD_DIR)

check-windows: bootstrap
	scripts/check-windows.sh

format:
	find src tests tools benchmarks fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD_DIR)
