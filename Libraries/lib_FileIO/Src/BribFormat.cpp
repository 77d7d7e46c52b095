#include "BribFormat.h"

// A four-digit multiplier, five-digit increment and six-digit modulus; the
// divisor spreads the state over one byte.
const FBribKeystream kBribCamfileKeystream = {7141, 54773, 259200, 259200};

void BribDescramble(uint8_t* bytes, size_t count, uint32_t seed, const FBribKeystream& key)
{
    if (key.m_uiModulus == 0 || key.m_uiDivisor == 0)
        return;
    uint32_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        state = (state * key.m_uiMultiplier + key.m_uiIncrement) % key.m_uiModulus;
        const uint32_t k = (state * 256u) / key.m_uiDivisor;
        bytes[i] ^= uint8_t(k & 0xFF);
    }
}
