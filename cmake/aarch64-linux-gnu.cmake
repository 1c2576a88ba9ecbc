# arm64 Linux, the instruction set of Apple Silicon, built on any Debian or Ubuntu with its cross
# compiler (g++-aarch64-linux-gnu) and run under qemu-user: `make arm64`. The target's own
# libraries come through Debian's multiarch (libutf8proc-dev:arm64 in /usr/lib/aarch64-linux-gnu),
# where the compiler looks by itself; Boost and nlohmann/json are headers, the host's do.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Tests and test discovery run the programs through qemu; -L finds the C++ runtime of the
# programs that are not linked statically.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
