#pragma once
// Eight UTF-16 characters to an instruction, where the processor has SSE2 (every x86-64 does);
// the callers keep a plain loop for the rest and for other processors.
#if defined(__SSE2__)
#include <emmintrin.h>

namespace hm::lanes {

inline __m128i load(const char16_t* s)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
}

inline __m128i same(short k)
{
    return _mm_set1_epi16(k);
}

// Each lane at most k: nothing left after taking k away, as SSE2 compares 16-bit lanes signed
// only.
inline __m128i atMost(__m128i v, __m128i k)
{
    return _mm_cmpeq_epi16(_mm_subs_epu16(v, k), _mm_setzero_si128());
}

} // namespace hm::lanes
#endif
