# zTolvera: cross build for 32-bit Windows, tests under Wine.
#   make run    set up, build, run the example monitoring scripts
#   make test   set up, build, run the tests
BUILD ?= build
SHELL := /bin/bash
TOOLCHAIN := cmake/toolchain-i686-mingw.cmake
WINE_RUN := $(BUILD)/wine-run.sh

# Debian packages the build and the tests need.
PACKAGES := wine wine32:i386 g++-mingw-w64-i686 mingw-w64-tools libwine-dev \
            googletest cmake make

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
APT := DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get -y -q

.PHONY: setup configure build test run bench stress fuzz clean

# Installs only what is missing; apt-get update only when something is.
setup:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg -s "$$p" >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	arch=""; \
	dpkg --print-foreign-architectures | grep -qx i386 || arch=i386; \
	if [ -z "$$missing$$arch" ]; then exit 0; fi; \
	set -e; \
	if [ -n "$$arch" ]; then \
	  echo "setup: adding the i386 architecture"; \
	  $(SUDO) dpkg --add-architecture i386; \
	fi; \
	echo "setup: installing$$missing"; \
	$(APT) update; \
	$(APT) install $$missing

configure:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j2

test: setup
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure

run: setup
	$(MAKE) build
	@echo "== ztolvera-run examples/*.vbs (journal: $(BUILD)/run-journal.jsonl)"
	@$(WINE_RUN) $(BUILD)/bin/ztolvera-run.exe --journal $(BUILD)/run-journal.jsonl \
	  --set MCGetVirDataItem.text=Spooler,W32Time,RpcSs --set GetContextEx.text=Stopped \
	  examples/*.vbs

# The benchmarks: each figure a ratio of two rates measured side by side,
# printed and written to bench/results.json. Not part of make test.
bench: setup
	$(MAKE) build
	cmake --build $(BUILD) --target ztolvera_bench
	$(WINE_RUN) $(BUILD)/bin/ztolvera_bench.exe 'Z:$(subst /,\,$(CURDIR))\bench\results.json'

# The stress test of make test, run for many rounds: jobs on several threads
# through one host, checked call by call, memory and handles held steady.
STRESS_ROUNDS ?= 1000
stress: setup
	$(MAKE) build
	ZTOLVERA_STRESS_ROUNDS=$(STRESS_ROUNDS) $(WINE_RUN) $(BUILD)/bin/stress_test.exe

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

clean:
	@if [ -x $(WINE_RUN) ]; then $(WINE_RUN) --stop; fi
	rm -rf $(BUILD)
