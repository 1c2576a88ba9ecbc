# Homebrew formula for vesk, built with CMake from a release tarball.
#
# At a release, make the tarball from the tag and fill in url and sha256:
#   git archive --prefix=vesk-2.0.0/ -o vesk-2.0.0.tar.gz v2.0.0
#   shasum -a 256 vesk-2.0.0.tar.gz
# then publish the tarball at url and install with
#   brew install ./packaging/homebrew/vesk.rb
# To try the formula before that, point url at the tarball made above as file:///path/to/it.
class Vesk < Formula
  desc "Command-line companion for Tarnel, the app that shows cards in the notch"
  homepage "https://vesk.invalid/"
  url "https://vesk.invalid/releases/vesk-2.0.0.tar.gz"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"

  depends_on "cmake" => :build
  depends_on "ninja" => :build
  # Beast and Asio are header-only: vesk links no Boost library.
  depends_on "boost" => :build
  depends_on "nlohmann-json" => :build
  depends_on "utf8proc"

  def install
    system "cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DVESK_TESTS=OFF", *std_cmake_args
    system "cmake", "--build", "build"
    # The binary, the man page and the zsh and fish completions land where Homebrew wants them.
    system "cmake", "--install", "build"
    # Homebrew's bash completions live in etc/bash_completion.d, which both of its
    # bash-completion formulae read.
    bash_completion.install share/"bash-completion/completions/vesk"
  end

  test do
    assert_equal "vesk #{version}", shell_output("#{bin}/vesk version").strip
    # Nothing listens on a free port, so health fails with exit status 1 and says why.
    port = free_port
    assert_match "cannot connect", shell_output("#{bin}/vesk health --port #{port} 2>&1", 1)
    assert_path_exists man1/"vesk.1"
    assert_path_exists bash_completion/"vesk"
    assert_path_exists zsh_completion/"_vesk"
    assert_path_exists fish_completion/"vesk.fish"
    # vesk-mcp answers an MCP handshake on standard input and ends with it.
    assert_equal "vesk-mcp #{version}", shell_output("#{bin}/vesk-mcp --version").strip
    handshake = '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-11-25"}}'
    assert_match '"protocolVersion":"2025-11-25"', pipe_output(bin/"vesk-mcp", handshake)
    assert_path_exists man1/"vesk-mcp.1"
  end
end
