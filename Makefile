# Every target installs what is missing first (scripts/install-deps.sh is quiet when all is there).
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
TSAN_DIR     ?= build-tsan
FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 60
# Each name is fuzz/<name>_fuzzer.cpp with its seeds in fuzz/corpus/<name>/.
FUZZ_TARGETS ?= args json sim mcp
LIBCXX_DIR   ?= build-libcxx
ARM64_DIR    ?= build-arm64
DIST_DIR     ?= dist
VERSION      := $(shell sed -n 's/^project.vesk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
SHELL        := bash
JOBS         ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
# CI turns warnings into errors.
CMAKE_FLAGS  ?= $(if $(CI),-DVESK_WERROR=ON)
# Sanitized programs on macOS say "malloc: nano zone abandoned due to inability to reserve vm
# space" on standard error unless the nano allocator is off, and every test reads standard error.
SANITIZED_RUN := $(if $(filter Darwin,$(shell uname -s)),MallocNanoZone=0)
CONFIGURE    := cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

.PHONY: all build test demo sanitize tsan libcxx arm64 fuzz package dist deps clean bench uninstall

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@$(CONFIGURE) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# A tour of every vesk command against tarnel-sim, the stand-in app, on a free port. The build
# says one line; its log shows only when it fails.
demo: deps
	@echo "Building vesk and tarnel-sim in $(BUILD_DIR)/ ..."
	@mkdir -p $(BUILD_DIR) && \
	  { $(CONFIGURE) && cmake --build $(BUILD_DIR) -j $(JOBS) --target vesk tarnel-sim; } \
	  >$(BUILD_DIR)/demo-build.log 2>&1 || { cat $(BUILD_DIR)/demo-build.log >&2; exit 1; }
	@scripts/demo.sh $(BUILD_DIR)

# The same tests built with Clang under AddressSanitizer and UndefinedBehaviorSanitizer, and
# under ThreadSanitizer (vesk-mcp's calls are cancelled from another thread than theirs). A report
# fails the run: it lands on standard error, which every test checks.
sanitize: deps
	@CC=clang CXX=clang++ cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DVESK_SANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@$(SANITIZED_RUN) cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@$(SANITIZED_RUN) ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

tsan: deps
	@CC=clang CXX=clang++ cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DVESK_SANITIZE=thread $(CMAKE_FLAGS) >/dev/null
	@$(SANITIZED_RUN) cmake --build $(TSAN_DIR) -j $(JOBS)
	@$(SANITIZED_RUN) TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) \
	  --exclude-regex 'Huge|Large'  # tens of megabytes crawl under ThreadSanitizer

# The tests built with Clang 19 and libc++ 19, the LLVM of Xcode 16.3's Clang and the C++ library
# of macOS, warnings as errors; GoogleTest is compiled from the sources Debian's googletest package
# installs, against the same library. libc++ 19 refuses older Clang, so the version is named.
libcxx: deps
	@scripts/install-deps.sh libcxx
	@[ -d /usr/src/googletest ] || { echo "make libcxx: needs /usr/src/googletest (Debian's" \
	  "googletest); on macOS, make test already builds with libc++" >&2; exit 1; }
	@cmake -S . -B $(LIBCXX_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 \
	  -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DVESK_GTEST_SOURCE_DIR=/usr/src/googletest \
	  $(CMAKE_FLAGS) -DVESK_WERROR=ON >/dev/null
	@cmake --build $(LIBCXX_DIR) -j $(JOBS)
	@ctest --test-dir $(LIBCXX_DIR) --output-on-failure -j $(JOBS)

# vesk built for arm64 Linux, the instruction set of Apple Silicon, with Debian's cross compiler
# (cmake/aarch64-linux-gnu.cmake), and the tests of vesk alone (ctest's label `vesk`: the unit
# tests and vesk's end-to-end suites) run under qemu, against the host's own tarnel-sim.
arm64: deps
	@[ "$$(uname -s)" = Linux ] || { echo "make arm64: cross-builds on Debian or Ubuntu; on a Mac" \
	  "with Apple Silicon, make test already runs on arm64" >&2; exit 1; }
	@scripts/install-deps.sh arm64
	@$(CONFIGURE) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tarnel-sim
	@cmake -S . -B $(ARM64_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	  -DVESK_E2E_SIM=$(abspath $(BUILD_DIR))/sim/tarnel-sim $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ARM64_DIR) -j $(JOBS) --target vesk unit_tests
	@ctest --test-dir $(ARM64_DIR) --output-on-failure -j $(JOBS) --label-regex '^vesk$$'

# Each libFuzzer target in FUZZ_TARGETS (fuzz/NAME_fuzzer.cpp) for FUZZ_SECONDS, from the seed
# corpus in fuzz/corpus/NAME and with the words in fuzz/NAME.dict, if there is one; an input that
# runs past 10 seconds is a hang, and fails the run.
# Apple's Clang ships no libFuzzer: on macOS the targets are built with Homebrew's LLVM.
fuzz: deps
	@llvm=""; if [ "$$(uname -s)" = Darwin ]; then \
	  llvm=$$(brew --prefix llvm 2>/dev/null)/bin/; [ -x "$${llvm}clang++" ] || { echo "make fuzz:" \
	    "Apple's Clang has no libFuzzer; install Homebrew's LLVM: brew install llvm" >&2; exit 1; }; \
	fi; \
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=$${llvm}clang -DCMAKE_CXX_COMPILER=$${llvm}clang++ -DVESK_FUZZ=ON -DVESK_TESTS=OFF \
	  -DVESK_SANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(FUZZ_TARGETS:%=%_fuzzer)
	@for name in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/found-$$name && \
	  $(FUZZ_DIR)/fuzz/$${name}_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_DIR)/ \
	    $$([ -f fuzz/$$name.dict ] && echo -dict=fuzz/$$name.dict) \
	    $(FUZZ_DIR)/found-$$name fuzz/corpus/$$name >$(FUZZ_DIR)/$$name.log 2>&1; status=$$?; \
	  grep -E '^(stat::number_of_executed_units|#[0-9]+[[:space:]]+DONE)|ERROR|SUMMARY' $(FUZZ_DIR)/$$name.log; \
	  [ $$status -eq 0 ] || { echo "make fuzz: $$name failed; the input is in $(FUZZ_DIR)/, the end" \
	    "of its log:" >&2; tail -n 60 $(FUZZ_DIR)/$$name.log >&2; exit 1; }; \
	done

# The way back from `cmake --install $(BUILD_DIR)`: removes the files it installed and the folders
# it created, once empty (with sudo where the install needed it).
uninstall:
	@cmake -DVESK_BUILD=$(BUILD_DIR) -P packaging/uninstall.cmake

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(LIBCXX_DIR) $(ARM64_DIR) $(FUZZ_DIR)

# Measures vesk against a floor client, curl and hello-world; rewrites BENCHMARKS.md.
bench:
	@bench/run.sh

# The Debian package of the build above, in $(BUILD_DIR)/packages/ (CPack; packaging/debian.cmake
# adds what Debian asks for).
package: build
	@[ "$$(uname -s)" = Linux ] || { echo "make package: Debian packages are built on Linux;" \
	  "macOS installs with packaging/homebrew/vesk.rb" >&2; exit 1; }
	@scripts/install-deps.sh package
	@cd $(BUILD_DIR) && cpack

# The release tarball of the commit checked out (git archive: changes not committed stay out) and
# its SHA-256 beside it, from which scripts/fill-formula.sh fills the Homebrew formula.
dist:
	@mkdir -p $(DIST_DIR)
	@git archive --prefix=vesk-$(VERSION)/ -o $(DIST_DIR)/vesk-$(VERSION).tar.gz HEAD
	@cd $(DIST_DIR) && $$(command -v sha256sum || echo shasum -a 256) vesk-$(VERSION).tar.gz \
	  >vesk-$(VERSION).tar.gz.sha256
	@cat $(DIST_DIR)/vesk-$(VERSION).tar.gz.sha256
