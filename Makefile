# zTolvera: cross build for 32-bit Windows, tests under Wine.
#   make run    set up, build, run the example monitoring scripts
#   make test   set up, build, run the tests
BUILD ?= build
SHELL := /bin/bash
TOOLCHAIN := cmake/toolchain-i686-mingw.cmake
WINE_RUN := $(BUILD)/wine-run.sh

# Debian packages the build and the tests need.
PACKAGES := wine wine32:i386 g++-mingw-w64-i686 mingw-w64-tools libwine-dev \
            googletest libtomlplusplus-dev nlohmann-json3-dev cmake make zip unzip procps

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
APT := DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get -y -q

.PHONY: setup configure build test run report bench stress fuzz dist clean

# Installs only what is missing; apt-get update only when something is.
# Then makes sure the kernel runs Wine's 32-bit programs (cmake/enable-i386.sh).
setup:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg -s "$$p" >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	arch=""; \
	dpkg --print-foreign-architectures | grep -qx i386 || arch=i386; \
	if [ -n "$$missing$$arch" ]; then \
	  set -e; \
	  if [ -n "$$arch" ]; then \
	    echo "setup: adding the i386 architecture"; \
	    $(SUDO) dpkg --add-architecture i386; \
	  fi; \
	  echo "setup: installing$$missing"; \
	  $(APT) update; \
	  $(APT) install $$missing; \
	fi
	@$(SUDO) cmake/enable-i386.sh

configure:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j2

test: setup
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure

# What the stand-in core tells the examples: three watched services, all stopped.
EXAMPLE_SETTINGS := --set MCGetVirDataItem.text=Spooler,W32Time,RpcSs --set GetContextEx.text=Stopped

# Then each scenario examples/NAME.SITUATION.toml with its script
# examples/NAME.vbs, four runs, and the verdicts of its expectations.
SCENARIO_RUNS ?= 4
run: setup
	$(MAKE) build
	@echo "== ztolvera-run examples/*.vbs (journal: $(BUILD)/run-journal.jsonl)"
	@$(WINE_RUN) $(BUILD)/bin/ztolvera-run.exe --journal $(BUILD)/run-journal.jsonl \
	  $(EXAMPLE_SETTINGS) examples/*.vbs
	@status=0; for scenario in examples/*.toml; do \
	  name=$$(basename $$scenario .toml); script=examples/$${name%%.*}.vbs; \
	  echo "== ztolvera-run --runs $(SCENARIO_RUNS) --fast --scenario $$scenario $$script"; \
	  $(WINE_RUN) $(BUILD)/bin/ztolvera-run.exe --runs $(SCENARIO_RUNS) --fast --scenario $$scenario $$script 2>&1 \
	    || status=$$?; \
	done; exit $$status

# examples/diskspace.vbs six times under its scenario into $(BUILD)/report.html,
# and what a browser shows of it: a screenshot by headless Chromium,
# $(BUILD)/report.png (Chromium is installed when missing; make test never needs it).
REPORT_SHOT_SIZE ?= 1280,1060
comma := ,
report: setup
	$(MAKE) build
	@dpkg -s chromium >/dev/null 2>&1 || { echo "report: installing chromium"; $(APT) update && $(APT) install chromium; }
	rm -f $(BUILD)/report.html $(BUILD)/report.png
	$(WINE_RUN) $(BUILD)/bin/ztolvera-run.exe --runs 6 --fast --report $(BUILD)/report.html \
	  --scenario examples/diskspace.fills.toml examples/diskspace.vbs
	@set -e; profile=$$(mktemp -d); \
	chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
	  --disable-background-networking --disable-component-update --disable-sync \
	  --user-data-dir=$$profile --hide-scrollbars --window-size=$(REPORT_SHOT_SIZE) \
	  --screenshot=$(CURDIR)/$(BUILD)/report.png file://$(CURDIR)/$(BUILD)/report.html \
	  >$(BUILD)/report-chromium.log 2>&1 || { cat $(BUILD)/report-chromium.log; rm -rf $$profile; exit 1; }; \
	rm -rf $$profile
	@# A PNG of the requested size, with more in it than a blank page.
	@set -e; png=$(BUILD)/report.png; \
	[ "$$(od -An -tx1 -N8 $$png | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "report: $$png is no PNG"; exit 1; }; \
	width=$$(od -An -tu1 -j16 -N4 $$png | awk '{print $$1*16777216+$$2*65536+$$3*256+$$4}'); \
	[ "$$width" = "$(firstword $(subst $(comma), ,$(REPORT_SHOT_SIZE)))" ] || { echo "report: $$png is $$width pixels wide"; exit 1; }; \
	[ $$(stat -c %s $$png) -gt 40000 ] || { echo "report: $$png looks blank"; exit 1; }; \
	echo "report: $(BUILD)/report.html, screenshot $$png ($${width} px wide, $$(stat -c %s $$png) bytes)"

# The benchmarks: each figure a ratio of two rates measured side by side,
# printed and written to bench/results.json. Not part of make test.
bench: setup
	$(MAKE) build
	cmake --build $(BUILD) --target ztolvera_bench
	$(WINE_RUN) $(BUILD)/bin/ztolvera_bench.exe 'Z:$(subst /,\,$(CURDIR))\bench\results.json'

# The stress test of make test, run for many rounds: jobs on several threads
# through one host, checked call by call, memory and handles held steady; on
# the platform's engine, then on the Windows-like one of the tests.
STRESS_ROUNDS ?= 1000
stress: setup
	$(MAKE) build
	ZTOLVERA_STRESS_ROUNDS=$(STRESS_ROUNDS) $(WINE_RUN) $(BUILD)/bin/stress_test.exe
	ZTOLVERA_STRESS_ROUNDS=$(STRESS_ROUNDS) ZTOLVERA_TEST_ENGINE=windows $(WINE_RUN) $(BUILD)/bin/stress_test.exe

# Native fuzzers of the pure functions (registry-script processor, list
# splitting), built with clang and libFuzzer outside the cross build. Inputs
# kept under tests/fuzz/regressions are replayed first; a crash found now is
# written there, to be kept as a regression input.
FUZZ_BUILD := $(BUILD)-fuzz
FUZZ_SECONDS ?= 60
fuzz:
	@missing=""; for p in clang libclang-rt-14-dev cmake; do \
	  dpkg -s "$$p" >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then $(APT) update && $(APT) install $$missing; fi
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(FUZZ_BUILD) -j2
	@set -eo pipefail; for f in $(FUZZ_BUILD)/*_fuzz; do \
	  n=$$(basename $$f _fuzz); \
	  echo "== $$n: replaying kept inputs"; \
	  $$f -runs=0 tests/fuzz/regressions/$$n tests/fuzz/corpus/$$n 2>&1 | grep -E 'INITED|ERROR'; \
	  echo "== $$n: fuzzing for $(FUZZ_SECONDS) s"; \
	  mkdir -p $(FUZZ_BUILD)/corpus-$$n; \
	  $$f $(FUZZ_BUILD)/corpus-$$n tests/fuzz/corpus/$$n -max_total_time=$(FUZZ_SECONDS) \
	      -timeout=5 -max_len=4096 -print_final_stats=1 \
	      -artifact_prefix=tests/fuzz/regressions/$$n/crash- 2>&1 | grep -E '^(Done|stat::number_of_executed_units|==[0-9]+==ERROR)' ; \
	done

# The release zip for Windows users, built with the rest (target release_zip)
# and copied to dist/ with its checksum.
dist: setup
	$(MAKE) build
	mkdir -p dist
	cp $(BUILD)/dist/ztolvera-*-win32.zip $(BUILD)/dist/ztolvera-*-win32.zip.sha256 dist/
	@cat dist/ztolvera-*-win32.zip.sha256

clean:
	@if [ -x $(WINE_RUN) ]; then $(WINE_RUN) --stop; fi
	rm -rf $(BUILD)
