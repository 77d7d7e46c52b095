#include "BribFormat.h"

namespace
{

// The arithmetic is written once; with the key known at compile time the
// divisions become multiplications.
template <class Key>
void Descramble(uint8_t* bytes, size_t count, uint32_t seed, const Key& key)
{
    uint32_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        state = (state * key.m_uiMultiplier + key.m_uiIncrement) % key.m_uiModulus;
        const uint32_t k = (state * 256u) / key.m_uiDivisor;
        bytes[i] ^= uint8_t(k & 0xFF);
    }
}

struct FixedKey {
    static constexpr uint32_t m_uiMultiplier = kBribCamfileKeystream.m_uiMultiplier;
    static constexpr uint32_t m_uiIncrement = kBribCamfileKeystream.m_uiIncrement;
    static constexpr uint32_t m_uiModulus = kBribCamfileKeystream.m_uiModulus;
    static constexpr uint32_t m_uiDivisor = kBribCamfileKeystream.m_uiDivisor;
};

bool IsFixedKey(const FBribKeystream& key)
{
    return key.m_uiMultiplier == FixedKey::m_uiMultiplier && key.m_uiIncrement == FixedKey::m_uiIncrement &&
           key.m_uiModulus == FixedKey::m_uiModulus && key.m_uiDivisor == FixedKey::m_uiDivisor;
}

} // namespace

void BribDescramble(uint8_t* bytes, size_t count, uint32_t seed, const FBribKeystream& key)
{
    if (key.m_uiModulus == 0 || key.m_uiDivisor == 0)
        return;
    if (IsFixedKey(key)) {
        Descramble(bytes, count, seed, FixedKey());
        return;
    }
    Descramble(bytes, count, seed, key);
}
