#include "common/text_search.h"

#include "common/char_lanes.h"

#include <cstring>

namespace hm {

bool holdsText(QStringView text, QStringView word)
{
    const qsizetype n = text.size(), m = word.size();
    if (m == 0)
        return true;
    const char16_t* s = text.utf16();
    const char16_t* w = word.utf16();
    qsizetype i = 0;
#if defined(__SSE2__)
    // Eight places at a time where the word's first two and last characters stand; only those
    // are compared whole. Qt's search walks a skip table, which the letters of an English word
    // in English text keep short.
    if (m >= 3) {
        using namespace lanes;
        const __m128i first = same(short(w[0])), second = same(short(w[1])), last = same(short(w[m - 1]));
        for (; i + m + 7 <= n; i += 8) {
            const __m128i starts = _mm_and_si128(_mm_cmpeq_epi16(load(s + i), first), _mm_cmpeq_epi16(load(s + i + 1), second));
            const __m128i hit = _mm_and_si128(starts, _mm_cmpeq_epi16(load(s + i + m - 1), last));
            for (unsigned at = unsigned(_mm_movemask_epi8(hit)) & 0x5555u; at != 0; at &= at - 1)
                if (std::memcmp(s + i + __builtin_ctz(at) / 2 + 2, w + 2, size_t(m - 3) * sizeof(char16_t)) == 0)
                    return true;
        }
    }
#endif
    return QStringView(s + i, n - i).contains(word);
}

} // namespace hm
