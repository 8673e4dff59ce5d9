# Front door: no CMake knowledge needed.
#   make deps      install the Debian packages the project needs (when missing)
#   make build     install what building the Linux programs needs, build the default preset
#   make test      deps, the format and layer checks, then configure, build and test the
#                  default, asan, tsan and windows presets (windows: mingw-w64 cross build,
#                  tests under Wine)
#   make run       install and build only what the window needs, then start ostrel-sim, the
#                  programmer on a simulated controller
#   make package   build the Debian packages (ostrelctl, ostrel)
#   make package-windows  build the Windows installer and zip (build/windows)
#   make lint      clang-tidy (.clang-tidy) over the default preset's compile database, and
#                  over the Windows sources in the windows preset's (the mingw-w64 target)
#   make bench     run the benchmarks; when build/windows exists, also those of the Windows
#                  programs under Wine
JOBS ?= 2
PRESETS ?= default asan tsan windows

.PHONY: all deps build test run package package-windows bench lint clean $(addprefix test-,$(PRESETS))

all: build

deps:
	@scripts/install-deps.sh

build:
	@scripts/install-deps.sh build
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: deps
	scripts/check-format.sh
	scripts/check-layers.sh
	@for p in $(PRESETS); do \
	  echo "=== $$p ==="; \
	  cmake --preset $$p >/dev/null && \
	  cmake --build --preset $$p -j $(JOBS) && \
	  { [ $$p != default ] || (cd build/default && cpack -G DEB >/dev/null); } && \
	  ctest --preset $$p -j $(JOBS) || exit 1; \
	done

$(addprefix test-,$(PRESETS)): test-%: deps
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)
	ctest --preset $* -j $(JOBS)

# Without a display the window could not start: said before anything is installed or built,
# in the words ostrel-sim itself uses (qt/tests/no-display.sh holds the two together).
run:
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY$$QT_QPA_PLATFORM" ]; then \
	  echo "ostrel-sim: no graphical display (DISPLAY and WAYLAND_DISPLAY are unset);" \
	    "on a machine without one, ostrelctl reads and writes the controller from the command line" >&2; \
	  exit 1; \
	fi
	@scripts/install-deps.sh run
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target ostrel-sim
	build/default/qt/ostrel-sim

package: build
	cd build/default && cpack -G DEB

package-windows: deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	cd build/windows && cpack

bench: build
	@# The Windows figures are taken when that build exists: its programs are brought up to date.
	if [ -d build/windows ]; then \
	  cmake --build --preset windows -j $(JOBS) --target ostrel ostrel-sim ostrel-sim-bench bare-dialog; \
	fi
	scripts/bench.sh

lint: deps
	cmake --preset default
	cmake --preset windows
	scripts/lint.sh

clean:
	@# Wine's servers for the test, benchmark and screenshot prefixes would outlive their folders.
	-@for prefix in wine-prefix wine-prefix-windows wine-prefix-bench screenshots-prefix; do \
	  WINEPREFIX=$(CURDIR)/build/windows/$$prefix /usr/lib/wine/wineserver -k 2>/dev/null; \
	done
	rm -rf build
