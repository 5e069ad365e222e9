# The two commands: `make run` and `make test`. Both install what is missing first.
PRESET ?= release
BUILD  := build/$(PRESET)
# CI turns warnings into errors
CMAKE_FLAGS := $(if $(CI),-DWERROR=ON,)

.PHONY: all deps configure build run test test-dev fuzz bench package clean

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

# Every part runs even when an earlier one failed, so one run shows all failures; any failure
# fails the whole.
test: build
	@failed=; \
	ctest --preset $(PRESET) || failed="$$failed $(PRESET)"; \
	$(MAKE) --no-print-directory test-dev || failed="$$failed dev"; \
	bash scripts/fuzz.sh || failed="$$failed fuzz"; \
	if [ -n "$$failed" ]; then echo "make test: failed:$$failed"; exit 1; fi

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer, so a memory error
# or a leak in our code fails them; the test preset leaves out the end-to-end and package tests.
test-dev: deps
	@cmake --preset dev $(CMAKE_FLAGS) >/dev/null
	@cmake --build --preset dev
	@ctest --preset dev

fuzz: deps
	@bash scripts/fuzz.sh

bench: build
	@bash bench/run.sh $(BUILD)

# the Debian package, ondrix_<version>_amd64.deb in the build folder
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf build
