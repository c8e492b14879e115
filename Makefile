# Thin wrapper: the work is done by scripts/install-deps.sh, CMake and ctest.
PRESET ?= default
BUILD_DIR := build/$(PRESET)

.PHONY: all deps configure build test run run-corvane package format format-check clean

all: build

deps:
	scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

# Install, configure, build, check formatting, run every test; the default build's tests are
# followed by the same tests under the address and undefined-behaviour sanitizers.
test: build format-check
	ctest --preset $(PRESET)
ifeq ($(PRESET),default)
	$(MAKE) test PRESET=asan
endif

# Starts Tamborex in TAMBOREX_DIR, the folder that holds its bank, "Tamborex.bnk".
TAMBOREX_DIR ?= $(HOME)/Tamborex
run: build
	mkdir -p "$(TAMBOREX_DIR)"
	cd "$(TAMBOREX_DIR)" && "$(CURDIR)/$(BUILD_DIR)/tamborex/ui/tamborex"

# Starts Corvane from the current folder, where it keeps corvane.txt.
run-corvane: build
	$(BUILD_DIR)/corvane/ui/corvane

# A Debian package with both programs, in the build folder: apt install ./build/default/tamborex_*.deb
package: build
	cmake --build --preset $(PRESET) --target package

format:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs -r clang-format -i

format-check:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf build
