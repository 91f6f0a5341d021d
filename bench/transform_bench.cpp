// transform_block on whole blocks, on the path the program takes and on
// every other path this processor runs, and the key setup plus the table
// build for the costliest key: every key byte's low four bits set, so every
// entry takes 16 draws (1048576 for the tables).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "cipher/key.h"
#include "cipher/tables.h"

namespace fcloak::cipher {
namespace {

constexpr char kWorstKey[] = "////////////////";  // 0x2F: draw count 16

unsigned char block[kTableSize];

void prepare(signed char mode) {
  unsigned char check[kKeySize];
  std::memset(check, ' ', sizeof check);
  prepare_keystream("bench password  ", check, 1234);
  build_tables("bench password  ", mode);
  for (int i = 0; i < kTableSize; ++i) block[i] = static_cast<unsigned char>(i * 131 + 17);
}

void transform(benchmark::State& state, int path, signed char mode) {
  prepare(mode);
  for (auto _ : state) {
    if (path < 0) {
      transform_block(block, kTableSize, mode);
    } else {
      transform_block_on(path, block, kTableSize, mode);
    }
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kTableSize);
}

void key_setup_and_worst_tables(benchmark::State& state) {
  for (auto _ : state) {
    unsigned char check[kKeySize];
    std::memset(check, ' ', sizeof check);
    benchmark::DoNotOptimize(prepare_keystream(kWorstKey, check, 511));
    build_tables(kWorstKey, 1);
    benchmark::DoNotOptimize(shift_table);
    benchmark::DoNotOptimize(add_table);
    benchmark::ClobberMemory();
  }
}

}  // namespace
}  // namespace fcloak::cipher

int main(int argc, char** argv) {
  using namespace fcloak::cipher;
  benchmark::RegisterBenchmark("transform_block/encrypt", transform, -1, static_cast<signed char>(1));
  benchmark::RegisterBenchmark("transform_block/decrypt", transform, -1, static_cast<signed char>(-1));
  for (int path = 0; path < transform_path_count(); ++path) {
    if (!transform_path_runs(path)) continue;
    const std::string name = transform_path_name(path);
    benchmark::RegisterBenchmark(("transform_block_on/" + name + "/encrypt").c_str(), transform, path,
                                 static_cast<signed char>(1));
    benchmark::RegisterBenchmark(("transform_block_on/" + name + "/decrypt").c_str(), transform, path,
                                 static_cast<signed char>(-1));
  }
  benchmark::RegisterBenchmark("key_setup_and_worst_tables", key_setup_and_worst_tables)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
