# The two commands of the README: `make demo` and `make check`. Both install what they need first.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps demo check check-native check-sanitize check-tsan check-windows check-release bench install \
  uninstall release clean

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

bench: deps
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release -j $(JOBS) --target lumisere_bench
	build/linux-release/bench/lumisere_bench

# For you (~/.vst, ~/.lv2, ~/.local/bin), or for everyone with PREFIX=/usr (or /usr/local). DESTDIR
# stages the files below another root.
install: deps
	@scripts/install $(PREFIX)

uninstall:
	@scripts/uninstall

# The Debian package, a tarball, the Windows installer and zip, with checksums, in dist/.
release: deps
	@scripts/release

clean:
	rm -rf build demo-output dist
