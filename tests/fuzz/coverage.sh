#!/usr/bin/env bash
# Line coverage of the product code by the fuzz corpora: builds the fuzz
# targets with clang's source coverage, replays the corpora that build/fuzz has
# gathered (and the seeds), and prints llvm-cov's report.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=build/fuzz-coverage
cmake -S . -B "$out" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLAUNCHER_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=-fprofile-instr-generate -fcoverage-mapping" \
    -DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate > /dev/null
cmake --build "$out" --target fuzz_split fuzz_launch > /dev/null
rm -f "$out"/*.profraw
for target in split launch; do
    corpus=build/fuzz/tests/fuzz/corpus/$target
    mkdir -p "$corpus"
    LLVM_PROFILE_FILE="$out/$target.profraw" "$out/tests/fuzz/fuzz_$target" -runs=0 \
        "$corpus" "$out/tests/fuzz/seeds/$target" > /dev/null 2>&1
done
llvm-profdata merge -o "$out/fuzz.profdata" "$out"/*.profraw
llvm-cov report "$out/tests/fuzz/fuzz_split" -object "$out/tests/fuzz/fuzz_launch" \
    -instr-profile="$out/fuzz.profdata" path/*.cpp launcher/*.cpp
