# The two commands a new machine needs are `make demo` and `make test`; both install
# what is missing first. Native and Windows builds share the sources; see CMakeLists.txt.
SHELL := /bin/bash
BUILD ?= build
JOBS  ?= $(shell nproc)

NATIVE := $(BUILD)/native
WIN32  := $(BUILD)/win32
ASAN   := $(BUILD)/asan

.PHONY: deps build native windows asan test bench demo update fuzz clean

deps:
	@bash scripts/install-deps.sh

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release -DOUT_BIN=$(abspath $(BUILD))/bin >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

windows: deps
	@cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=MinSizeRel -DOUT_BIN=$(abspath $(BUILD))/bin \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64-i686.cmake) \
	  -DPATCHTOOL=$(abspath $(BUILD))/bin/patchtool >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

# Native first: the Windows build packs its payloads with the native patchtool.
build: native
	@$(MAKE) --no-print-directory windows

asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DOUT_BIN=$(abspath $(ASAN))/bin >/dev/null
	@cmake --build $(ASAN) -j $(JOBS)

test: build asan
	@cd $(ASAN) && ctest -L unit --output-on-failure -j $(JOBS)
	@cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

bench: native
	@$(BUILD)/bin/patch_bench

demo: build
	@bash demo/run-demo.sh $(abspath $(BUILD))

update: build
	@test -n "$(OLD)" -a -n "$(NEW)" || { echo "usage: make update OLD=old-file NEW=new-file" >&2; exit 2; }
	@bash scripts/make-update.sh "$(OLD)" "$(NEW)" $(abspath $(BUILD))

fuzz: deps
	@bash tests/fuzz/run-fuzzer.sh $(or $(FUZZ_SECONDS),600) $(abspath $(BUILD))/fuzz

clean:
	rm -rf $(BUILD)
