# The two commands of the README: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
PACKAGES   := build-essential cmake ninja-build qt6-base-dev libjpeg-dev libpng-dev libgif-dev \
              zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb openbox x11-utils
# HEIC/HEIF, AVIF, WebP and TIFF; colour profiles; metadata.
PACKAGES   += libheif-dev libavif-dev libwebp-dev libtiff-dev liblcms2-dev libexiv2-dev
# The tests compare against the libraries' own tools and use Debian's colour profiles (RGB from
# colord, CMYK from ghostscript's common files).
PACKAGES   += libheif-examples libavif-bin webp libtiff-tools colord-data libgs-common
# For `make package` and its checks: dpkg-shlibdeps, the desktop's and AppStream's validators, man.
PACKAGES   += dpkg-dev desktop-file-utils appstream man-db groff-base
PREFIX     ?= /usr/local
SUDO       := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build run test test-sanitize install package clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null \
	  | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/parvula

# The widget tests run on a real X server with a window manager where one can be started.
test: build
	cd $(BUILD) && $(CURDIR)/tests/with_display.sh ctest --output-on-failure -j $(JOBS) --timeout 300

# The non-widget tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	[ -f $(ASAN_BUILD)/build.ninja ] || cmake -S . -B $(ASAN_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DPARVULA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan_suppressions.txt \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600 -LE '^gui$$'

# Installs under PREFIX (default /usr/local); DESTDIR=DIR stages the files below DIR instead.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# build/parvula_<version>_<arch>.deb, with the library dependencies dpkg-shlibdeps finds.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
