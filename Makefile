# Every target but clean first runs scripts/install-deps, which installs missing Debian
# packages with apt-get (through sudo when you are not root).
#   make / make build  install what is missing, then build (the program folder: build/HayateMail)
#   make test          ... build, then run every test (the package check too)
#   make demo          ... build, then run the program on build/demo
#   make bench         ... build, then run the benchmarks
#   make package       ... build the .deb (build/hayatemail_*.deb)
#   make package-test  ... build the .deb, install it into a scratch root and start it there
#   make clean         remove the build, keeping the mail in build/HayateMail and build/demo
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo bench package package-test clean

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

package: build
	cmake --build $(BUILD) --target package

package-test: build
	scripts/package-test $(BUILD)

clean:
	scripts/clean-build $(BUILD)
