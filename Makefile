# The README's commands. Each first installs whatever Debian packages are missing.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build test test-sanitize demo fuzz clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Every test, then the same tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-sanitize

SANITIZE_BUILD ?= build-asan
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DQUORLA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/.lsan-suppressions:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -LE install

demo: build
	@scripts/demo

# Every fuzz target for FUZZ_SECONDS each (default 60).
FUZZ_SECONDS ?= 60
fuzz: deps
	@scripts/run-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
