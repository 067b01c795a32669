# Norvane: `make run` builds and starts the program, `make test` builds and runs
# every test. Both install the Debian packages that are missing first.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all deps build test asan tsan fuzz bench package run demo screenshot clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVANE_SANITIZE=ON -DNORVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The tests that run threads (the scan, gathering signatures, the search, the console
# program) built with ThreadSanitizer; any report fails the run, except those
# inside the dynamic loader (tests/tsan.supp).
TSAN_TESTS := ^((SignatureGatherer|SearchSession|Difference|FastPartners|Cli)[A-Za-z]*Test|ScanTree)\.
tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVANE_TSAN=ON -DNORVANE_GUI=OFF -DNORVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# Every fuzz target runs for FUZZ_SECONDS, starting from seeds the test writers make.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNORVANE_FUZZ=ON -DNORVANE_TESTS=OFF -DNORVANE_GUI=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS)
	rm -rf build-fuzz/seeds && build-fuzz/bin/fuzz_seeds build-fuzz/seeds
	set -e; for target in build-fuzz/bin/fuzz_*; do \
	  name=$$(basename $$target); \
	  [ "$$name" = fuzz_seeds ] && continue; \
	  mkdir -p build-fuzz/corpus/$$name build-fuzz/seeds/$$name build-fuzz/artifacts; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$target -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/artifacts/$$name- \
	    build-fuzz/corpus/$$name build-fuzz/seeds/$$name 2>&1 | tail -n 12; \
	  test $${PIPESTATUS[0]} -eq 0; \
	done

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVANE_BENCH=ON -DNORVANE_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)
	set -e; for b in build-bench/bin/*Bench; do echo "== $$b"; $(if $(BIG),NORVANE_BENCH_BIG=1) $$b; done

# A Debian package in build-package/, checked by lintian (errors fail) and by
# the validators of the desktop file and the AppStream metadata.
package:
	@scripts/install-deps package
	desktop-file-validate resources/norvane.desktop
	appstreamcli validate --no-net resources/org.norvane.Norvane.metainfo.xml
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVANE_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-package -j $(JOBS)
	rm -f build-package/norvane_*.deb
	cd build-package && cpack -G DEB
	lintian --fail-on error build-package/norvane_*.deb

# The program starts in the repository root and so keeps its settings in
# ./Norvane.ini. The first time, demo/ is filled with sample pictures and a
# Norvane.ini naming it is written; an existing Norvane.ini is never touched.
run: demo
	@[ -e Norvane.ini ] || printf '[General]\nSearchFolder=%s\n' "$(CURDIR)/demo" > Norvane.ini
	$(BUILD)/bin/Norvane

# Sample pictures with known duplicates, made once.
demo: build
	@if [ ! -x $(BUILD)/bin/Norvane ]; then \
	  echo "Norvane was not built: Qt 6 Widgets (qt6-base-dev) is missing." >&2; exit 1; \
	fi
	@if [ ! -d demo ]; then \
	  QT_QPA_PLATFORM=offscreen $(BUILD)/bin/norvane-make-demo demo.tmp && mv demo.tmp demo; \
	fi

# A picture of the window after a search of demo/, taken under Xvfb.
screenshot: demo
	mkdir -p docs
	xvfb-run -a -s "-screen 0 1280x1024x24" $(BUILD)/bin/norvane-screenshot demo docs/screenshot.png

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench build-package
