// Transform paths for x86 processors (32 and 64 bits), chosen at run time:
// each function carries its own instruction set, so the program as a whole
// still runs on the baseline processor.
//
// A byte x rotated left by r is the high byte of the 16-bit product
// (x * 0x101) * 2^r: the bytes are widened to 16 bits as (x, x) pairs,
// multiplied by 2^r (looked up from the shift entry AND 7) and the high
// bytes packed back, in the order they came.
#include <immintrin.h>

#include "cipher/tables.h"
#include "cipher/tables-paths.h"

namespace fcloak::cipher {

namespace {

// 16 bytes at a time, for processors before AVX2.

[[gnu::target("ssse3")]] inline __m128i load128(const void* from) {
  return _mm_loadu_si128(static_cast<const __m128i*>(from));
}

[[gnu::target("ssse3")]] inline __m128i rotate128(__m128i x, __m128i shift) {
  const __m128i powers = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  const __m128i zero = _mm_setzero_si128();
  const __m128i factor = _mm_shuffle_epi8(powers, _mm_and_si128(shift, _mm_set1_epi8(7)));
  const __m128i low = _mm_mullo_epi16(_mm_unpacklo_epi8(x, x), _mm_unpacklo_epi8(factor, zero));
  const __m128i high = _mm_mullo_epi16(_mm_unpackhi_epi8(x, x), _mm_unpackhi_epi8(factor, zero));
  return _mm_packus_epi16(_mm_srli_epi16(low, 8), _mm_srli_epi16(high, 8));
}

[[gnu::target("ssse3")]] int encrypt_ssse3(unsigned char* block, int count) {
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i sum = _mm_add_epi8(load128(block + i), load128(add_table + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), rotate128(sum, load128(shift_table + i)));
  }
  return i;
}

[[gnu::target("ssse3")]] int decrypt_ssse3(unsigned char* block, int count) {
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i rotated = rotate128(load128(block + i), load128(shift_table + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), _mm_add_epi8(rotated, load128(add_table + i)));
  }
  return i;
}

// 32 bytes at a time; within each 16-byte half the unpacking and packing
// work as above.

[[gnu::target("avx2")]] inline __m256i load256(const void* from) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(from));
}

[[gnu::target("avx2")]] inline __m256i rotate256(__m256i x, __m256i shift) {
  const __m256i powers = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128,
                                          1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i factor = _mm256_shuffle_epi8(powers, _mm256_and_si256(shift, _mm256_set1_epi8(7)));
  const __m256i low = _mm256_mullo_epi16(_mm256_unpacklo_epi8(x, x), _mm256_unpacklo_epi8(factor, zero));
  const __m256i high = _mm256_mullo_epi16(_mm256_unpackhi_epi8(x, x), _mm256_unpackhi_epi8(factor, zero));
  return _mm256_packus_epi16(_mm256_srli_epi16(low, 8), _mm256_srli_epi16(high, 8));
}

[[gnu::target("avx2")]] int encrypt_avx2(unsigned char* block, int count) {
  int i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i sum = _mm256_add_epi8(load256(block + i), load256(add_table + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + i), rotate256(sum, load256(shift_table + i)));
  }
  return i;
}

[[gnu::target("avx2")]] int decrypt_avx2(unsigned char* block, int count) {
  int i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i rotated = rotate256(load256(block + i), load256(shift_table + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + i), _mm256_add_epi8(rotated, load256(add_table + i)));
  }
  return i;
}

bool has_ssse3() { return __builtin_cpu_supports("ssse3"); }
bool has_avx2() { return __builtin_cpu_supports("avx2"); }

constexpr TransformPath kPaths[] = {
    {"ssse3", has_ssse3, encrypt_ssse3, decrypt_ssse3},
    {"avx2", has_avx2, encrypt_avx2, decrypt_avx2},
};

constexpr int kPathCount = sizeof kPaths / sizeof kPaths[0];

}  // namespace

int processor_path_count() { return kPathCount; }

const TransformPath& processor_path(int index) { return kPaths[index]; }

}  // namespace fcloak::cipher
