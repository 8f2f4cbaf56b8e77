# The two commands of the quick start: `make demo` and `make test` each do
# the whole set-up (missing Debian packages, configure, build) first.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
GLIMRA_WERROR ?= OFF
CMAKE_FLAGS ?=
DEMO_DIFF := $(BUILD_DIR)/demo-diff.png
# A static ISA-L built from Debian's source package (scripts/build-isal.sh);
# where it cannot be had, the shared one is linked.
ISAL_DIR := $(abspath $(BUILD_DIR))/deps

.PHONY: all setup configure build demo test test-slow package windows clean

all: build

setup:
	@scripts/install-deps.sh

configure: setup
	@scripts/build-isal.sh $(ISAL_DIR) || echo "No static ISA-L: the shared library is linked."
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	    -DGLIMRA_WERROR=$(GLIMRA_WERROR) -DCMAKE_PREFIX_PATH=$(ISAL_DIR)/prefix $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR)

# The example pair differs, so glimra answers 1 here; that is the demo's
# expected outcome, not a failure of make.
demo: build
	@rm -f $(DEMO_DIFF)
	@echo "$$ glimra examples/before.png examples/after.png $(DEMO_DIFF) -v"
	@$(BUILD_DIR)/glimra examples/before.png examples/after.png $(DEMO_DIFF) -v; \
	    status=$$?; \
	    echo "exit status $$status (0 identical, 1 different or failed)"; \
	    if [ -f $(DEMO_DIFF) ]; then echo "Difference picture written to $(DEMO_DIFF)"; \
	    else echo "No difference picture was written"; exit 1; fi

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure --timeout 600 -j2 -LE slow

# The tests labelled "slow": the picture beyond 4 GiB (a minute, ~13 GB).
test-slow: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -L slow

# glimra.exe for 64-bit Windows: build-mingw/glimra.exe, cross-built with
# mingw-w64 from Debian's source packages (scripts/build-windows.sh).
windows:
	scripts/build-windows.sh build-mingw

# The Debian package glimra_<version>_<arch>.deb in $(BUILD_DIR).
package: build
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf $(BUILD_DIR)
