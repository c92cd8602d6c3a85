# The README's commands. Each first installs whatever Debian packages are missing.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build test test-sanitize windows windows-configure test-windows windows-package demo demo-windows fuzz lint bench package clean

deps:
	@scripts/install-deps

# Our own builds treat warnings as errors; a packager's (`make package`, README) does not.
configure: deps
	@cmake -S . -B $(BUILD) -DQUORLA_WERROR=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Every test, then the same tests once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the Windows build's tests under wine.
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-sanitize
	@$(MAKE) --no-print-directory test-windows

SANITIZE_BUILD ?= build-asan
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DQUORLA_SANITIZE=ON -DQUORLA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/.lsan-suppressions:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -LE install

# The Windows build: cross-built with mingw-w64 against third-party libraries built from Debian's
# source packages (scripts/windows-deps, cached under ~/.cache), its tests run under wine.
# A new third-party prefix (other versions, another recipe) starts the build folder afresh.
WINDOWS_BUILD ?= build-windows
WINDOWS_CMAKE_FLAGS ?=
# The installer tests run the Linux build's demo shop and quorla-pack (QUORLA_LINUX_BUILD).
windows-configure:
	@scripts/install-deps windows
	@prefix=$$(scripts/windows-deps) && fresh= && \
	  if [ -f $(WINDOWS_BUILD)/CMakeCache.txt ] && \
	     ! grep -qxF "QUORLA_WINDOWS_DEPS_PREFIX:PATH=$$prefix" $(WINDOWS_BUILD)/CMakeCache.txt; then \
	    fresh=--fresh; fi && \
	  cmake $$fresh -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-mingw64.cmake \
	    -DQUORLA_WINDOWS_DEPS_PREFIX="$$prefix" -DQUORLA_LINUX_BUILD=$(abspath $(BUILD)) \
	    $(WINDOWS_CMAKE_FLAGS) >/dev/null

windows: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# Tests under wine that are driven from Linux (the end-to-end runs, the installer) use the
# Linux build's e2e_test, demo shop and quorla-pack.
WINE_DRIVERS = e2e_test quorla-demo-shop quorla-pack
test-windows: windows configure
	@cmake --build $(BUILD) -j $(JOBS) --target $(WINE_DRIVERS)
	@cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS)

# The demo with the Windows launcher and sample module under wine (on a virtual display when
# none is set); the shop and quorla-pack are the Linux build's.
demo-windows: windows configure
	@cmake --build $(BUILD) -j $(JOBS) --target quorla-demo-shop quorla-pack
	@DEMO_WINDOWS_BUILD=$(WINDOWS_BUILD) scripts/demo

# The Windows installer (README "Install"): the launcher of the Windows build, packed by wixl
# (install/windows/build-msi). A shop brands it through WINDOWS_CMAKE_FLAGS, e.g.
# WINDOWS_CMAKE_FLAGS=-DQUORLA_URL_SCHEME=myshop, and signs it with SIGN_PFX=cert.pfx and
# SIGN_PASSWORD_FILE=FILE (or SIGN_PASSWORD in the environment).
# Built in a folder of its own (WINDOWS_PACKAGE_BUILD), from the shop's profile (SHOP=...), so
# that the settings of a package never reach the test build.
WINDOWS_PACKAGE_BUILD ?= build-windows-package
windows-package:
	@$(MAKE) --no-print-directory windows-configure WINDOWS_BUILD=$(WINDOWS_PACKAGE_BUILD) \
	  WINDOWS_CMAKE_FLAGS="--fresh $(PACKAGE_PROFILE_FLAGS) $(WINDOWS_CMAKE_FLAGS)"
	@cmake --build $(WINDOWS_PACKAGE_BUILD) -j $(JOBS) --target quorla_msi_inputs
	@install/windows/build-msi $(WINDOWS_PACKAGE_BUILD)/install/msi-settings.sh $(WINDOWS_PACKAGE_BUILD)

# Only what the demo runs: the launcher (with its window module), quorla-pack, the demo shop and
# the sample editor module; no tests.
DEMO_TARGETS = quorla-launcher quorla_host_gtk quorla-pack quorla-demo-shop quorla_sample_editor
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS)
	@scripts/demo

# Every fuzz target for FUZZ_SECONDS each (default 60).
FUZZ_SECONDS ?= 60
fuzz: deps
	@scripts/run-fuzz $(FUZZ_SECONDS)

# cppcheck and clang-tidy over the project's sources, with .cppcheck-suppressions and .clang-tidy.
# LINT_FILES="a.cpp b.cpp" analyses only those (a quick check of what you touched).
LINT_FILES ?=
lint: build
	@scripts/lint $(BUILD) $(LINT_FILES)

# The benchmarks against curl, unzip, md5sum and OpenSSL (bench/README.md). Release build at the
# shipped -O2; data goes to a temporary folder that is removed afterwards.
BENCH_BUILD ?= build-bench
BENCH_REPS ?= 5
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DQUORLA_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target quorla-bench
	@work=$$(mktemp -d "$${TMPDIR:-/tmp}/quorla-bench.XXXXXX") && trap 'rm -rf "$$work"' EXIT INT TERM && \
	  $(BENCH_BUILD)/bin/quorla-bench --work "$$work" --bin $(BENCH_BUILD)/bin --reps $(BENCH_REPS)

# A package is what a shop ships: built from the shop's profile (SHOP=DIR/shop.cmake, made by
# `quorla-pack --new-shop DIR ...`), or, with INSECURE=1, an open package for demos that says
# so in its name and its start banner. Without either, configuring refuses and says what is
# missing. Each packaging run configures afresh, so no earlier setting lingers.
SHOP ?=
INSECURE ?=
PACKAGE_PROFILE_FLAGS = $(if $(SHOP),-C $(abspath $(SHOP))) -DQUORLA_PACKAGE_BUILD=ON \
  -DQUORLA_INSECURE_PACKAGE=$(if $(filter 1,$(INSECURE)),ON,OFF)

# The Debian package (README "Install"): a Release build without the tests, packed by CPack.
# -O2 as Debian builds its packages (GCC 12 at -O3 warns falsely inside libstdc++ strings).
# A shop brands it through CMAKE_FLAGS, e.g. CMAKE_FLAGS=-DQUORLA_URL_SCHEME=myshop.
PACKAGE_BUILD ?= build-package
package: deps
	@cmake --fresh $(PACKAGE_PROFILE_FLAGS) -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DQUORLA_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	@cd $(PACKAGE_BUILD) && out=$$(cpack -G DEB 2>&1) || { echo "$$out"; exit 1; }; \
	  echo "$$out" | sed -n 's/^CPack: - package: \(.*\) generated\.$$/package: \1/p'

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
