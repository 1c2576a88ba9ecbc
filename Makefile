# Every target installs what is missing first (scripts/install-deps.sh is quiet when all is there).
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
TSAN_DIR     ?= build-tsan
FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 60
PACKAGE_DIR  ?= build-package
LIBCXX_DIR   ?= build-libcxx
SHELL        := bash
JOBS         ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
# CI turns warnings into errors.
CMAKE_FLAGS  ?= $(if $(CI),-DVESK_WERROR=ON)
CONFIGURE    := cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

.PHONY: all build test demo sanitize tsan libcxx fuzz package deps clean bench

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@$(CONFIGURE) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# A tour of every vesk command against tarnel-sim, the stand-in app, on a free port.
demo: deps
	@$(CONFIGURE) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target vesk tarnel-sim
	@scripts/demo.sh $(BUILD_DIR)

# The same tests built with Clang under AddressSanitizer and UndefinedBehaviorSanitizer, and
# under ThreadSanitizer (the transport hands its answer from one thread to another). A report
# fails the run: it lands on standard error, which every test checks.
sanitize: deps
	@CC=clang CXX=clang++ cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DVESK_SANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

tsan: deps
	@CC=clang CXX=clang++ cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DVESK_SANITIZE=thread $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS)
	@TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) \
	  --exclude-regex 'Huge|Large'  # tens of megabytes crawl under ThreadSanitizer

# The tests built with Clang and libc++, the C++ library of macOS, warnings as errors; GoogleTest
# is compiled from the sources Debian's googletest package installs, against the same library.
libcxx: deps
	@[ -d /usr/src/googletest ] || { echo "make libcxx: needs /usr/src/googletest (Debian's" \
	  "googletest); on macOS, make test already builds with libc++" >&2; exit 1; }
	@CC=clang CXX=clang++ cmake -S . -B $(LIBCXX_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DVESK_GTEST_SOURCE_DIR=/usr/src/googletest \
	  $(CMAKE_FLAGS) -DVESK_WERROR=ON >/dev/null
	@cmake --build $(LIBCXX_DIR) -j $(JOBS)
	@ctest --test-dir $(LIBCXX_DIR) --output-on-failure -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS, from the seed corpus in fuzz/corpus.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVESK_FUZZ=ON -DVESK_TESTS=OFF -DVESK_SANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target args_fuzzer json_fuzzer
	@for name in args json; do \
	  mkdir -p $(FUZZ_DIR)/found-$$name && \
	  $(FUZZ_DIR)/fuzz/$${name}_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    $(FUZZ_DIR)/found-$$name fuzz/corpus/$$name 2>&1 | grep -E '^(stat::number_of_executed_units|#[0-9]+ +DONE)|ERROR|SUMMARY' ; \
	  test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(LIBCXX_DIR) $(FUZZ_DIR) $(PACKAGE_DIR)

# Measures vesk against a floor client, curl and hello-world; rewrites BENCHMARKS.md.
bench:
	@bench/run.sh

# The Debian package, in $(PACKAGE_DIR)/packages/. Installed under /usr, where Debian's zsh reads
# completions from vendor-completions rather than site-functions.
package: deps
	@[ "$$(uname -s)" = Linux ] || { echo "make package: Debian packages are built on Linux;" \
	  "macOS installs with packaging/homebrew/vesk.rb" >&2; exit 1; }
	@cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_TESTS=OFF \
	  -DCMAKE_INSTALL_PREFIX=/usr -DVESK_ZSH_COMPLETION_DIR=share/zsh/vendor-completions \
	  $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(PACKAGE_DIR) -j $(JOBS)
	@cd $(PACKAGE_DIR) && cpack
