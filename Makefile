# The two commands of a new machine: `make demo` and `make test`.
# Each installs what is missing, configures and builds before it runs.
PRESET := mingw
BUILD  := build
WINE_RUN := tools/wine-run.sh --prefix $(BUILD)/wine/prefix

.PHONY: all setup configure build test demo clean

all: build

setup:
	@tools/setup.sh

$(BUILD)/build.ninja: CMakeLists.txt CMakePresets.json cmake/mingw-i686.cmake
	cmake --preset $(PRESET) >/dev/null

configure: setup $(BUILD)/build.ninja

build: configure
	cmake --build --preset $(PRESET)

# The wineserver and the display started for the tests are stopped afterwards,
# whatever the outcome; the exit status is CTest's.
test: build
	@status=0; ctest --preset $(PRESET) $(CTEST_ARGS) || status=$$?; \
	$(WINE_RUN) --shutdown; exit $$status

demo: build
	tools/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
