# Homebrew formula for vesk, built with CMake from a release tarball.
#
# At a release, on the tagged commit: `make dist` writes dist/vesk-VERSION.tar.gz and its SHA-256
# beside it. Publish the tarball, then fill in url and sha256 from the two files with
#   scripts/fill-formula.sh dist/vesk-VERSION.tar.gz https://HOST/PATH/vesk-VERSION.tar.gz
# Without the address, url points at the local tarball (file://), to try the formula before
# publishing it; -o writes the filled formula elsewhere, such as into a tap (Homebrew installs
# formulae from taps only; README, "Install", shows how).
class Vesk < Formula
  desc "Command-line companion for Tarnel, the app that shows cards in the notch"
  homepage "https://vesk.invalid/"
  url "https://vesk.invalid/releases/vesk-2.0.0.tar.gz"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"
  license "MIT"

  depends_on "cmake" => :build
  depends_on "ninja" => :build
  # Beast and Asio are header-only: vesk links no Boost library.
  depends_on "boost" => :build
  depends_on "nlohmann-json" => :build
  depends_on "utf8proc"

  def install
    system "cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DVESK_TESTS=OFF", *std_cmake_args
    system "cmake", "--build", "build"
    # vesk and tarnel-sim, stripped, their man pages and the zsh and fish completions, where
    # Homebrew wants them.
    system "cmake", "--install", "build", "--strip"
    # Homebrew's bash completions live in etc/bash_completion.d, which both of its
    # bash-completion formulae read.
    bash_completion.install share/"bash-completion/completions/vesk"
  end

  test do
    assert_equal "vesk #{version}", shell_output("#{bin}/vesk version").strip
    assert_path_exists man1/"vesk.1"
    assert_path_exists bash_completion/"vesk"
    assert_path_exists zsh_completion/"_vesk"
    assert_path_exists fish_completion/"vesk.fish"
    # vesk-mcp answers an MCP handshake on standard input and ends with it.
    assert_equal "vesk-mcp #{version}", shell_output("#{bin}/vesk-mcp --version").strip
    handshake = '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-11-25"}}'
    assert_match '"protocolVersion":"2025-11-25"', pipe_output(bin/"vesk-mcp", handshake)
    assert_path_exists man1/"vesk-mcp.1"

    # A round trip with tarnel-sim, the stand-in app, on a free port that it writes down once it
    # listens, with the answer to the question scripted.
    port_file = testpath/"sim.port"
    sim = spawn bin/"tarnel-sim", "--port", "0", "--port-file", port_file, "--chat", "answer:ship it",
                "--quiet"
    begin
      100.times do
        break if port_file.exist?

        sleep 0.1
      end
      port = port_file.read.strip
      assert_match "running on port #{port}", shell_output("#{bin}/vesk health --port #{port}")
      assert_equal "ship it",
                   shell_output("#{bin}/vesk ask 'Ship it?' --answers Yes,No --port #{port}").strip
    ensure
      Process.kill "TERM", sim
      _, status = Process.wait2 sim
    end
    # The sim stops cleanly on SIGTERM and takes its port file with it.
    assert_predicate status, :success?
    refute_path_exists port_file
  end
end
