# Every target installs what is missing first (scripts/install-deps.sh is quiet when all is there).
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
PACKAGE_DIR  ?= build-package
JOBS         ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
# CI turns warnings into errors.
CMAKE_FLAGS  ?= $(if $(CI),-DVESK_WERROR=ON)

.PHONY: all build test sanitize package deps clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The same tests built with Clang under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	@CXX=clang++ cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DVESK_SANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

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

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(PACKAGE_DIR)
