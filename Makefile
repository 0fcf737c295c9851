# The two commands the README promises: `make run` and `make test`; and the
# checks CI adds: the sanitizer builds, the fuzz targets and the format check.
SHELL := /bin/bash
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local
JOBS ?= 2

# ccache, when installed, makes the extra build trees cheap to rebuild.
LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache,)

# AddressSanitizer + UndefinedBehaviorSanitizer: the unit, integration and
# window tests, and a fast part of the core's tests. Any report fails the run.
ASAN_BUILD ?= build-asan
ASAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
ASAN_LABELS ?= unit|integration|gui
ASAN_CORE_TESTS ?= UsageError|CapabilityQuery|FileNames|BadSource|BadTarget|InternalFault|Overwrite|ProbeReport|Probe\.|Stop\.TermKeepsAPlayableFile|Stop\.AbortRemovesTheUnfinishedOutput|Claim\.ExistingFilesAreKept|Claim\.NamesLongerThanTheFolderAllowsAreShortened|Stop\.KilledCoreLeavesOnlyAPartialFileTheNextRunRemoves|Stop\.ProgramGoneBeforeTheStartStopsAtOnce
ASAN_ENV := ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0

# ThreadSanitizer: the unit tests.
TSAN_BUILD ?= build-tsan
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/sanitizers/tsan.supp

# libFuzzer targets (clang only), each run for FUZZ_SECONDS on a copy of its
# corpus (tests/fuzz/corpus/<target, '_' as '-'>): the engine's probe and
# progress parsers and the core's option parser.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20
FUZZ_TARGETS ?= probe progress core_options
FUZZ_FLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
CLANGXX := $(shell command -v clang++ 2>/dev/null)

.PHONY: all deps configure build run test bench install package clean test-asan test-tsan fuzz check-format

all: build

deps:
	bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_FLAGS) $(LAUNCHER)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/bin/plexavo $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug $(LAUNCHER) \
		"-DCMAKE_CXX_FLAGS=$(ASAN_FLAGS)" "-DCMAKE_C_FLAGS=$(ASAN_FLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
		"-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined"
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest --output-on-failure -j$(JOBS) -L '$(ASAN_LABELS)'
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest --output-on-failure -j$(JOBS) -L core -R '$(ASAN_CORE_TESTS)'

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DPLEXAVO_WITH_CORE=OFF $(LAUNCHER) \
		"-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_C_FLAGS=$(TSAN_FLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread"
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target unit_tests scripted_child
	cd $(TSAN_BUILD) && $(TSAN_ENV) ctest --output-on-failure -j$(JOBS) -L unit

fuzz: deps
ifeq ($(CLANGXX),)
	@echo "fuzz: clang++ is not installed; nothing to do"
else
	cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLEXAVO_WITH_CORE=ON \
		-DPLEXAVO_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang $(LAUNCHER) \
		"-DCMAKE_CXX_FLAGS=$(FUZZ_FLAGS)" "-DCMAKE_C_FLAGS=$(FUZZ_FLAGS)"
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@for target in $(FUZZ_TARGETS); do \
		corpus=$$(echo $$target | tr _ -) && \
		rm -rf $(FUZZ_BUILD)/corpus-$$corpus && mkdir -p $(FUZZ_BUILD)/corpus-$$corpus && \
		cp tests/fuzz/corpus/$$corpus/* $(FUZZ_BUILD)/corpus-$$corpus/ && \
		echo "fuzz_$$target: $(FUZZ_SECONDS) s" && \
		$(FUZZ_BUILD)/bin/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -max_len=2100 \
			-artifact_prefix=$(FUZZ_BUILD)/crash-$$target- -print_final_stats=1 \
			$(FUZZ_BUILD)/corpus-$$corpus 2>&1 | grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|==|SUMMARY|progress parse|probe parse|option parser)' ; \
		test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done
endif

check-format:
	bash scripts/check-format.sh

bench: build
	bash bench/run.sh $(BUILD)

# The program and everything it finds beside itself go to PREFIX/lib/plexavo,
# with PREFIX/bin/plexavo linking to it; DESTDIR stages the tree for packaging.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The same tree as a Debian package, plexavo_<version>_<arch>.deb in $(BUILD)/:
# CPack's DEB generator over the install rules with PREFIX=/usr (cmake/Package.cmake).
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
