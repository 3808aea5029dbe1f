# The two commands of a new machine: `make demo` and `make test`.
# Each installs what is missing, configures and builds before it runs.
#
# Two targets from one source tree, each with its own preset and build
# folder: i686 (build/i686, PE32: the product) and x86_64 (build/x86_64,
# PE32+). `make test` builds both and runs every suite this host can run
# (tools/host-arches.sh says which); ARCH=i686 or ARCH=x86_64 builds and runs
# one. `make release` builds the shipped product (build/release).
ARCH :=
BUILD := build

.PHONY: all setup build release test demo clean

all: build

setup:
	@tools/setup.sh

build: setup
	@tools/build.sh $(or $(ARCH),i686 x86_64)

release: setup
	@tools/build.sh release

# CTEST_ARGS goes to each suite's ctest (for example CTEST_ARGS="-R app_test").
test: setup
	@tools/test.sh $(ARCH)

demo: setup
	@tools/demo.sh $(ARCH)

clean:
	rm -rf $(BUILD)
