# The two commands the README promises: `make run` and `make test`.
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test bench clean

all: build

deps:
	bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD)

run: build
	$(BUILD)/bin/plexavo $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

bench: build
	bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
