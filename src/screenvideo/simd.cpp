#include "screenvideo/simd.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CAP2FLV_X86 1
#include <immintrin.h>
#endif

void gatherRowPortable(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) {
  for (std::uint32_t i = 0; i < width; ++i) {
    dst[3 * i + 0] = src[4 * i + 3];
    dst[3 * i + 1] = src[4 * i + 2];
    dst[3 * i + 2] = src[4 * i + 1];
  }
}

bool samePixelsPortable(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t pixels) {
  for (std::uint32_t i = 0; i < pixels; ++i) {
    if (a[4 * i + 1] != b[4 * i + 1] || a[4 * i + 2] != b[4 * i + 2] || a[4 * i + 3] != b[4 * i + 3]) return false;
  }
  return true;
}

namespace {

std::uint32_t adlerPortable(const std::uint8_t* data, std::size_t n) {
  return static_cast<std::uint32_t>(adler32(1, data, static_cast<uInt>(n)));
}

#ifdef CAP2FLV_X86

// Four pixels a step: one shuffle turns 16 bytes of x r g b into 12 bytes of
// b g r; the 16-byte store spills 4 bytes that the next step overwrites.
__attribute__((target("ssse3"))) void gatherRowSsse3(const std::uint8_t* src, std::uint8_t* dst,
                                                    std::uint32_t width) {
  const __m128i order = _mm_setr_epi8(3, 2, 1, 7, 6, 5, 11, 10, 9, 15, 14, 13, -1, -1, -1, -1);
  std::uint32_t i = 0;
  for (; i + 4 <= width; i += 4) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(px, order));
  }
  gatherRowPortable(src + 4 * i, dst + 3 * i, width - i);
}

// Adler-32 over 32-byte chunks: s1 gains the byte sum (vpsadbw), s2 gains
// 32 times the s1 before the chunk plus the bytes weighted 32 down to 1
// (vpmaddubsw, vpmaddwd). Blocks are below NMAX, so one reduction at the end
// is enough.
__attribute__((target("avx2"))) std::uint32_t adlerAvx2(const std::uint8_t* data, std::size_t n) {
  const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15,
                                           14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i zero = _mm256_setzero_si256();
  __m256i vs1 = zero, vs2 = zero, prefix = zero;
  const std::size_t chunks = n / 32;
  for (std::size_t k = 0; k < chunks; ++k) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 32 * k));
    prefix = _mm256_add_epi32(prefix, vs1);
    vs1 = _mm256_add_epi32(vs1, _mm256_sad_epu8(v, zero));
    vs2 = _mm256_add_epi32(vs2, _mm256_madd_epi16(_mm256_maddubs_epi16(v, weights), ones));
  }
  alignas(32) std::uint32_t l1[8], lp[8], l2[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(l1), vs1);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lp), prefix);
  _mm256_store_si256(reinterpret_cast<__m256i*>(l2), vs2);
  std::uint64_t byteSum = 0, prefixSum = 0, weighted = 0;
  for (int i = 0; i < 8; ++i) {
    byteSum += l1[i];
    prefixSum += lp[i];
    weighted += l2[i];
  }
  // s1 starts at 1, so each chunk also adds 32 to s2 through it.
  std::uint64_t s1 = 1 + byteSum;
  std::uint64_t s2 = 32 * chunks + 32 * prefixSum + weighted;
  for (std::size_t i = 32 * chunks; i < n; ++i) {
    s1 += data[i];
    s2 += s1;
  }
  constexpr std::uint32_t kBase = 65521;
  return static_cast<std::uint32_t>((s2 % kBase) << 16 | (s1 % kBase));
}

// Eight pixels a step: the differences of 32 bytes are OR-ed together, the
// ignored first byte of each pixel masked off once at the end.
__attribute__((target("avx2"))) bool samePixelsAvx2(const std::uint8_t* a, const std::uint8_t* b,
                                                    std::uint32_t pixels) {
  __m256i diff = _mm256_setzero_si256();
  std::uint32_t i = 0;
  for (; i + 8 <= pixels; i += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 4 * i));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 4 * i));
    diff = _mm256_or_si256(diff, _mm256_xor_si256(x, y));
  }
  diff = _mm256_and_si256(diff, _mm256_set1_epi32(static_cast<int>(0xFFFFFF00u)));
  return _mm256_testz_si256(diff, diff) != 0 && samePixelsPortable(a + 4 * i, b + 4 * i, pixels - i);
}

using SameFn = bool (*)(const std::uint8_t*, const std::uint8_t*, std::uint32_t);
using GatherFn = void (*)(const std::uint8_t*, std::uint8_t*, std::uint32_t);
using AdlerFn = std::uint32_t (*)(const std::uint8_t*, std::size_t);

// Static initialisers may run before libgcc's own: initialise its CPU model first.
bool cpuHas(bool (*probe)()) {
  __builtin_cpu_init();
  return probe();
}

const GatherFn gatherImpl = cpuHas([] { return __builtin_cpu_supports("ssse3") != 0; }) ? gatherRowSsse3 : gatherRowPortable;
const SameFn sameImpl = cpuHas([] { return __builtin_cpu_supports("avx2") != 0; }) ? samePixelsAvx2 : samePixelsPortable;
const AdlerFn adlerImpl = cpuHas([] { return __builtin_cpu_supports("avx2") != 0; }) ? adlerAvx2 : adlerPortable;

#endif

}  // namespace

void gatherRow(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) {
#ifdef CAP2FLV_X86
  gatherImpl(src, dst, width);
#else
  gatherRowPortable(src, dst, width);
#endif
}

std::uint32_t blockAdler32(const std::uint8_t* data, std::size_t n) {
#ifdef CAP2FLV_X86
  if (n <= kMaxAdlerBlock) return adlerImpl(data, n);
#endif
  return adlerPortable(data, n);
}

bool samePixels(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t pixels) {
#ifdef CAP2FLV_X86
  return sameImpl(a, b, pixels);
#else
  return samePixelsPortable(a, b, pixels);
#endif
}
