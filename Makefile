# Thin wrapper: `make run` extracts the text of the bundled sample into samples/sample.txt, `make test` builds and runs every test
# (normal build, then an AddressSanitizer + UndefinedBehaviorSanitizer build).
JOBS ?= $(shell nproc)
DEBS := cmake g++ make zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev \
        libfontconfig-dev libfribidi-dev libssl-dev libicu-dev libidn-dev pkg-config fonts-liberation2 fonts-urw-base35 poppler-data \
        qt6-base-dev help2man python3-markdown dpkg-dev file lintian \
        pybind11-dev python3-dev python3-pytest python3-dask python3-distributed \
        python3-setuptools python3-wheel python3-pip python3-venv
SAMPLE := samples/sample.pdf
SAMPLE_TEXT := $(SAMPLE:.pdf=.txt)

.PHONY: deps bench-deps truth build build-asan run test test-normal test-asan fuzz bench package install screenshot clean

deps:
	@missing=""; for p in $(DEBS); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=ON -DTOLVANE_BENCH=OFF
	cmake --build build-asan -j $(JOBS)

run: build
	./build/bin/tolvane-text extract $(SAMPLE) --layout smart --encoding utf-8 -o $(SAMPLE_TEXT)
	@echo "Text written to $(SAMPLE_TEXT); its first lines:"
	@head -n 20 $(SAMPLE_TEXT)

test-normal: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

test: test-normal test-asan

fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DTOLVANE_FUZZ=ON -DTOLVANE_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_parse fuzz_decode fuzz_document fuzz_document_repair fuzz_fonts

bench: build
	./build/bin/bench_file

# Optional: the producers and peer extractors of bench/truth (not needed to build or test).
BENCH_DEBS := groff ghostscript python3-reportlab python3-gi gir1.2-pango-1.0 python3-cairo python3-gi-cairo \
        texlive-latex-base fonts-noto-cjk fonts-dejavu-core poppler-utils mupdf-tools python3-pdfminer \
        python3-fitz python3-pypdf
bench-deps:
	@missing=""; for p in $(BENCH_DEBS); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

# Generates the ground-truth set into build/truth and scores every extractor on it.
truth: build
	/usr/bin/python3 bench/truth/generate.py --out build/truth
	/usr/bin/python3 bench/truth/score.py build/truth

# Debian packages build/tolvane-text_<version>_amd64.deb and build/tolvane-text-dev_...deb.
package: build
	cd build && cpack -B .

# Installs into PREFIX (default /usr/local; DESTDIR is honoured).
PREFIX ?= /usr/local
install: build
	cmake --install build --prefix $(PREFIX)

# The README's picture of the window after a run over the sample, made without a display.
screenshot: build
	QT_QPA_PLATFORM=offscreen ./build/bin/tolvane-text-extractor --screenshot docs/screenshot.png $(SAMPLE)

clean:
	rm -rf build build-asan build-fuzz
