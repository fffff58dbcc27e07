# The commands of the project. Every build goes under build/: the main one in build/ itself, the
# others in folders no source folder is named like, since build/<folder> holds the main build's
# tree of that source folder.
BUILD      ?= build
BENCHBUILD ?= build/release
PKGBUILD   ?= build/deb
FUZZBUILD  ?= build/libfuzzer
ASANBUILD  ?= build/asan
TSANBUILD  ?= build/tsan
FUZZ_SECONDS ?= 60
JOBS       ?= 2

.PHONY: all deps configure build test test-sanitize test-tsan tidy run bench fuzz package clean format

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug

configure: $(BUILD)/CMakeCache.txt

build: deps configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	@scripts/run-tests $(BUILD)

# The whole test suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Any report fails the test that made it.
test-sanitize: export ASAN_OPTIONS = abort_on_error=1:detect_leaks=1:strict_string_checks=1:suppressions=$(CURDIR)/scripts/asan.supp
test-sanitize: export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
test-sanitize: export LSAN_OPTIONS = suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0
test-sanitize: deps
	cmake -S . -B $(ASANBUILD) -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON
	cmake --build $(ASANBUILD) -j$(JOBS)
	@scripts/run-tests $(ASANBUILD)

# The server, network and end-to-end tests again, built with ThreadSanitizer: these are the tests
# whose threads share the database pool, the sessions and the client's connection. Any report fails
# the test that made it.
test-tsan: export TSAN_OPTIONS = halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp
test-tsan: deps
	cmake -S . -B $(TSANBUILD) -DCMAKE_BUILD_TYPE=Debug -DKX_TSAN=ON
	cmake --build $(TSANBUILD) -j$(JOBS) --target test_server test_net test_e2e
	@scripts/run-tests $(TSANBUILD) 'server|net|e2e'

# clang-tidy's focused checks (.clang-tidy) over the program's sources; any finding fails.
tidy: build
	@scripts/run-tidy $(BUILD)

# Each libFuzzer target for FUZZ_SECONDS seconds (clang), one after another.
fuzz: deps
	cmake -S . -B $(FUZZBUILD) -DCMAKE_BUILD_TYPE=Debug -DKX_FUZZ=ON \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZBUILD) -j$(JOBS) --target fuzzers
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzz $(FUZZBUILD)

run: build
	@scripts/run-demo $(BUILD)

bench: deps
	cmake -S . -B $(BENCHBUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCHBUILD) -j$(JOBS) --target benchmarks
	@scripts/run-bench $(BENCHBUILD)

# The Debian packages (kx-appserver, kx-client) from a Release build without the tests, with
# Debian's hardening flags, into $(BUILD).
package: deps
	cmake -S . -B $(PKGBUILD) -DCMAKE_BUILD_TYPE=Release -DKX_TESTS=OFF -DKX_DEB_HARDENING=ON
	cmake --build $(PKGBUILD) -j$(JOBS)
	cd $(PKGBUILD) && cpack -B $(abspath $(PKGBUILD))/cpack
	mkdir -p $(BUILD)
	rm -f $(BUILD)/kx-appserver_*.deb $(BUILD)/kx-client_*.deb
	mv $(PKGBUILD)/cpack/*.deb $(BUILD)/
	@ls -l $(BUILD)/kx-appserver_*.deb $(BUILD)/kx-client_*.deb

format:
	@find host server package screen hostapp tests bench sql -name '*.h' -o -name '*.cpp' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD)
