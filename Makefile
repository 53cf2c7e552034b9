# The two commands of the README: `make demo` and `make check`. Both install what they need first.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps demo check check-native check-sanitize check-tsan check-windows check-release bench bench-windows \
  install uninstall release clean

all: deps
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release -j $(JOBS)

deps:
	@scripts/install-deps

demo: deps
	@scripts/demo

# Every test: native release, AddressSanitizer + UBSan, ThreadSanitizer, and the Windows build under Wine.
check: deps
	@scripts/check

check-native check-sanitize check-tsan check-windows check-release: deps
	@scripts/check $(patsubst check-%,%,$@)

# The audio core against the plain reading (Google Benchmark), then the built plug-in through the host
# harness beside LSP gate-stereo when Debian's LSP plug-ins are installed, in interleaved runs.
# HOST_BENCH_ARGS="--clock cpu" times thread CPU time instead of wall-clock time (a crowded machine).
LSP_GATE ?= /usr/lib/vst/lsp-plugins/gate-stereo.so
HOST_BENCH_RUNS ?= 9
HOST_BENCH_ARGS ?=

bench: deps
	@scripts/install-bench-deps
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release -j $(JOBS) --target lumisere_bench lumisere_host_bench lumisere_editor_bench lumisere_vst
	build/linux-release/bench/lumisere_bench
	xvfb-run -a build/linux-release/bench/lumisere_editor_bench
	@if [ -f "$(LSP_GATE)" ]; then \
	  build/linux-release/bench/lumisere_host_bench --runs $(HOST_BENCH_RUNS) $(HOST_BENCH_ARGS) --baseline "LSP gate-stereo" \
	    Lumisere=build/linux-release/plugin/Lumisere.so "LSP gate-stereo=$(LSP_GATE)"; \
	else \
	  echo "(no $(LSP_GATE): install lsp-plugins-vst for the yardstick)"; \
	  build/linux-release/bench/lumisere_host_bench --runs $(HOST_BENCH_RUNS) $(HOST_BENCH_ARGS) \
	    Lumisere=build/linux-release/plugin/Lumisere.so; \
	fi

# The Windows DLL through the same harness under Wine, beside the plain reading built for Windows.
bench-windows: deps
	cmake --preset windows -DLUMISERE_BUILD_BENCH=ON >/dev/null
	cmake --build --preset windows -j $(JOBS) --target lumisere_host_bench lumisere_vst
	scripts/wine-run build/windows/bench/lumisere_host_bench.exe --runs $(HOST_BENCH_RUNS) $(HOST_BENCH_ARGS) \
	  "Lumisere=Z:$(subst /,\\,$(CURDIR))\\build\\windows\\plugin\\Lumisere.dll"

# For you (~/.vst, ~/.lv2, ~/.local/bin), or for everyone with PREFIX=/usr (or /usr/local). DESTDIR
# stages the files below another root. Both reach the script through the environment, whatever
# characters the paths hold. `make uninstall` removes what every install from this tree put in place.
install: deps
	@scripts/install

uninstall:
	@scripts/uninstall

# The Debian package, a tarball, the Windows installer and zip, with checksums, in dist/.
release: deps
	@scripts/release

clean:
	rm -rf build demo-output dist
