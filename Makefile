# make run   install what is missing, build, start the program
# make test  install what is missing, build with sanitizers, run every test
JOBS ?= $(shell nproc)

.PHONY: run build test deps deps-run clean

run: deps-run build
	./build/webloom

build:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBLOOM_TESTS=OFF
	cmake --build build -j $(JOBS)

test: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DWEBLOOM_SANITIZE=ON -DWEBLOOM_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

deps:
	scripts/install-deps

deps-run:
	scripts/install-deps --run

clean:
	rm -rf build build-asan
