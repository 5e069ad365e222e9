# The two commands: `make run` and `make test`. Both install what is missing first.
PRESET ?= release
BUILD  := build/$(PRESET)
# CI turns warnings into errors
CMAKE_FLAGS := $(if $(CI),-DWERROR=ON,)

.PHONY: all deps configure build run test fuzz bench package clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
		echo "ondrix: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are unset)"; exit 1; fi
	@$(CURDIR)/$(BUILD)/ondrix

test: build
	@ctest --preset $(PRESET)
	@bash scripts/fuzz.sh

fuzz: deps
	@bash scripts/fuzz.sh

bench: build
	@bash bench/run.sh $(BUILD)

# the Debian package, ondrix_<version>_amd64.deb in the build folder
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf build
