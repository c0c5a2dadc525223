# make demo: set up, build and run the program on a ready demo folder.
# make test: set up, build and run every test.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo bench fuzz clean

all: build

deps:
	scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/demo $(BUILD)

bench: build
	scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD)
