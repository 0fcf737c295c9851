# The two commands the README promises: `make run` and `make test`.
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: all deps configure build run test bench install clean

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

# The program and everything it finds beside itself go to PREFIX/lib/plexavo,
# with PREFIX/bin/plexavo linking to it; DESTDIR stages the tree for packaging.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD)
