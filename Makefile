# SPDX-License-Identifier: GPL-3.0-or-later
# make run   install what is missing, build, start the program
# make test  install what is missing, build with sanitizers, run every test
#
# make install    build/ into $(DESTDIR)$(PREFIX) (default /usr/local)
# make uninstall  remove what the last "make install" installed
# make package    a Debian package in build-pkg/
# make fuzz       run every fuzz target for FUZZ_SECONDS each (clang, libFuzzer)
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
DESTDIR ?=
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = project listing registry body_file cp932

.PHONY: run build test fuzz deps deps-run clean install uninstall package

run: deps-run build
	./build/webloom

build:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBLOOM_TESTS=OFF
	cmake --build build -j $(JOBS)

test: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DWEBLOOM_SANITIZE=ON -DWEBLOOM_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# CMake's manifest lists the installed files without DESTDIR.
uninstall:
	@test -f build/install_manifest.txt || { echo "uninstall: build/install_manifest.txt is missing: nothing was installed from build/" >&2; exit 1; }
	@while IFS= read -r file || [ -n "$$file" ]; do \
	  echo "-- Removing: $(DESTDIR)$$file"; \
	  rm -f "$(DESTDIR)$$file"; \
	  case "$$file" in */share/doc/webloom/*) rmdir "$(DESTDIR)$${file%/*}" 2>/dev/null || true ;; esac; \
	done < build/install_manifest.txt

# Built with Debian's hardening flags, as a package from the archive is.
package: deps
	cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DWEBLOOM_TESTS=OFF -DWEBLOOM_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)"
	cmake --build build-pkg -j $(JOBS)
	cd build-pkg && cpack -G DEB
	@ls build-pkg/*.deb

# New inputs collect in build-fuzz/corpus/<target>, crashes in
# build-fuzz/crashes/<target>/; the stored seeds in tests/fuzz/corpus are only read.
fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DWEBLOOM_FUZZ=ON -DWEBLOOM_TESTS=OFF -DWEBLOOM_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@status=0; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/crashes/$$t; \
	  dict=; [ -f tests/fuzz/$$t.dict ] && dict=-dict=tests/fuzz/$$t.dict; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  build-fuzz/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $$dict \
	    -artifact_prefix=build-fuzz/crashes/$$t/ build-fuzz/corpus/$$t tests/fuzz/corpus/$$t || status=1; \
	done; exit $$status

deps:
	scripts/install-deps

deps-run:
	scripts/install-deps --run

clean:
	rm -rf build build-asan build-pkg build-fuzz
