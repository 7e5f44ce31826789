# The two commands a new machine needs are `make demo` and `make test`; both install
# what is missing first. Native and Windows builds share the sources; see CMakeLists.txt.
SHELL := /bin/bash
BUILD ?= build
JOBS  ?= $(shell nproc)

NATIVE := $(BUILD)/native
WIN32  := $(BUILD)/win32
WIN64  := $(BUILD)/win64
WINTOOL32 := $(BUILD)/wintool32
WINTOOL64 := $(BUILD)/wintool64
# The producer's libraries for MinGW-w64, built from Debian's sources (scripts/build-mingw-deps.sh).
MINGW_DEPS ?= $(or $(XDG_CACHE_HOME),$(HOME)/.cache)/lunder-deps
ASAN   := $(BUILD)/asan

.PHONY: deps build native product windows windows32 windows64 wintool32 wintool64 asan test bench bench-producer \
  bench-applier bench-folder demo update fuzz coverage mutants clean

deps:
	@bash scripts/install-deps.sh

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release -DOUT_BIN=$(abspath $(BUILD))/bin >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

# The Windows programs in both widths from the same sources: i686 into bin/ (the product)
# and their x86_64 twins into bin/x64/, which the tests and the demo run on machines that
# execute no 32-bit code.
windows: windows32 windows64 wintool32 wintool64

windows32: deps
	@cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=MinSizeRel -DOUT_BIN=$(abspath $(BUILD))/bin \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64-i686.cmake) \
	  -DPATCHTOOL=$(abspath $(BUILD))/bin/patchtool >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

windows64: deps
	@cmake -S . -B $(WIN64) -DCMAKE_BUILD_TYPE=MinSizeRel -DOUT_BIN=$(abspath $(BUILD))/bin/x64 \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64-x86_64.cmake) \
	  -DPATCHTOOL=$(abspath $(BUILD))/bin/patchtool >/dev/null
	@cmake --build $(WIN64) -j $(JOBS)

# patchtool.exe of each width in a tree of its own: the producer shares its work among threads,
# which needs MinGW-w64's posix thread model; the product programs keep the default one.
wintool32: deps
	@bash scripts/build-mingw-deps.sh i686 $(MINGW_DEPS)
	@cmake -S . -B $(WINTOOL32) -DCMAKE_BUILD_TYPE=Release -DWINDOWS_TOOLS=ON -DOUT_BIN=$(abspath $(BUILD))/bin \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64-i686-posix.cmake) -DMINGW_DEPS=$(MINGW_DEPS)/mingw-i686 >/dev/null
	@cmake --build $(WINTOOL32) -j $(JOBS) --target patchtool

wintool64: deps
	@bash scripts/build-mingw-deps.sh x86_64 $(MINGW_DEPS)
	@cmake -S . -B $(WINTOOL64) -DCMAKE_BUILD_TYPE=Release -DWINDOWS_TOOLS=ON -DOUT_BIN=$(abspath $(BUILD))/bin/x64 \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64-x86_64-posix.cmake) -DMINGW_DEPS=$(MINGW_DEPS)/mingw-x86_64 >/dev/null
	@cmake --build $(WINTOOL64) -j $(JOBS) --target patchtool

# Native first: the Windows build packs its payloads with the native patchtool.
build: native
	@$(MAKE) --no-print-directory windows

# The product's Windows programs alone: what the demo, the vendor's update and the applier
# benchmark run (patchtool.exe, which needs its libraries fetched and built, is not among them).
product: native
	@$(MAKE) --no-print-directory windows32 windows64

asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DOUT_BIN=$(abspath $(ASAN))/bin >/dev/null
	@cmake --build $(ASAN) -j $(JOBS)

test: build asan
	@cd $(ASAN) && ctest -L unit --output-on-failure -j $(JOBS)
	@cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

bench: native
	@$(BUILD)/bin/patch_bench

# Our patches beside bsdiff, zstd and xdelta3 on real program releases (fetched into ~/.cache).
bench-producer: native
	@bash scripts/bench-producer.sh $(abspath $(BUILD))

# Whole-folder updates: the demo folder and a made-up folder of 1000 files (FILES=…).
bench-folder: product
	@bash bench/folder_bench.sh $(abspath $(BUILD))

# The Windows applier under Wine on a real program pair, both formats, to its final box.
bench-applier: product
	@OUT_BIN=$(abspath $(BUILD))/bin WINE_BUILD_DIR=$(abspath $(NATIVE)) PATCHTOOL=$(abspath $(BUILD))/bin/patchtool \
	  bash bench/applier_wine.sh

demo: product
	@bash demo/run-demo.sh $(abspath $(BUILD))

update: product
	@test -n "$$OLD" -a -n "$$NEW" -o -n "$$OLD_DIR" -a -n "$$NEW_DIR" || { echo "usage: make update OLD=\"old-file [old-file ...]\" NEW=new-file | OLD_DIR=\"old-folder [old-folder ...]\" NEW_DIR=new-folder [PROFILE=profile.ini] [SIGN_CERT=cert.pfx [SIGN_PASS_FILE=file]] [ARCH=x64] [FORMAT=2|3]" >&2; exit 2; }
	@ARCH="$(ARCH)" FORMAT="$(FORMAT)" bash scripts/make-update.sh "$$OLD" "$$NEW" $(abspath $(BUILD))

fuzz: deps
	@bash tests/fuzz/run-fuzzer.sh $(or $(FUZZ_SECONDS),600) $(abspath $(BUILD))/fuzz

# Line and branch coverage of core/ and tools/ by every test that needs no Wine.
coverage: deps
	@bash scripts/coverage.sh $(abspath $(BUILD))/coverage $(JOBS)

# The paths reach the script through the environment, so that quotes and spaces in them
# stay as the vendor typed them.
export OLD NEW OLD_DIR NEW_DIR

# The one-line mutations of tests/mutants/mutations.tsv, each on a copy of the sources;
# lists the survivors. MUTANTS_ARGS="--from HEAD" takes the committed sources.
mutants: deps
	@python3 scripts/mutants.py $(abspath $(BUILD))/mutants --jobs $(JOBS) $(MUTANTS_ARGS)

clean:
	rm -rf $(BUILD)
