#include "AES.h"

#include <cstring>

namespace {

struct Tables
{
    tdu1 sbox[256];
    tdu1 inv[256];
    tdu4 te[4][256];
};

constexpr tdu1 rotl8(tdu1 x, int s)
{
    return tdu1(((x << s) | (x >> (8 - s))) & 0xFF);
}

constexpr tdu1 xtime(tdu1 x)
{
    return tdu1(((x << 1) ^ ((x & 0x80) ? 0x1B : 0)) & 0xFF);
}

// The S-box from its definition: multiplicative inverse in GF(2^8) followed
// by the affine map. p walks the powers of 3, q the powers of its inverse,
// so q is always p's inverse.
constexpr Tables makeTables()
{
    Tables t {};
    tdu1 p = 1;
    tdu1 q = 1;
    do {
        p = tdu1(p ^ xtime(p));
        q = tdu1(q ^ (q << 1));
        q = tdu1(q ^ (q << 2));
        q = tdu1(q ^ (q << 4));
        if (q & 0x80)
            q = tdu1(q ^ 0x09);
        const tdu1 x = tdu1(q ^ rotl8(q, 1) ^ rotl8(q, 2) ^ rotl8(q, 3) ^ rotl8(q, 4));
        t.sbox[p] = tdu1(x ^ 0x63);
    } while (p != 1);
    t.sbox[0] = 0x63;
    for (int i = 0; i < 256; ++i)
        t.inv[t.sbox[i]] = tdu1(i);
    for (int i = 0; i < 256; ++i) {
        const tdu1 s = t.sbox[i];
        const tdu1 s2 = xtime(s);
        const tdu1 s3 = tdu1(s2 ^ s);
        const tdu4 w = (tdu4(s2) << 24) | (tdu4(s) << 16) | (tdu4(s) << 8) | tdu4(s3);
        t.te[0][i] = w;
        t.te[1][i] = (w >> 8) | (w << 24);
        t.te[2][i] = (w >> 16) | (w << 16);
        t.te[3][i] = (w >> 24) | (w << 8);
    }
    return t;
}

constexpr Tables kT = makeTables();

static_assert(kT.sbox[0x00] == 0x63 && kT.sbox[0x01] == 0x7C && kT.sbox[0x53] == 0xED
        && kT.sbox[0xFF] == 0x16,
    "S-box as in FIPS-197 figure 7");

inline tdu4 load32(const tdu1 *p)
{
    return (tdu4(p[0]) << 24) | (tdu4(p[1]) << 16) | (tdu4(p[2]) << 8) | tdu4(p[3]);
}

inline void store32(tdu1 *p, tdu4 v)
{
    p[0] = tdu1(v >> 24);
    p[1] = tdu1(v >> 16);
    p[2] = tdu1(v >> 8);
    p[3] = tdu1(v);
}

inline tdu4 subWord(tdu4 w)
{
    return (tdu4(kT.sbox[w >> 24]) << 24) | (tdu4(kT.sbox[(w >> 16) & 0xFF]) << 16)
        | (tdu4(kT.sbox[(w >> 8) & 0xFF]) << 8) | tdu4(kT.sbox[w & 0xFF]);
}

} // namespace

const tdu1 *AES::sbox()
{
    return kT.sbox;
}

const tdu1 *AES::invSbox()
{
    return kT.inv;
}

AES::AES(const tdu1 *key)
{
    static const tdu1 zero[KeySize] = {};
    const tdu1 *k = key ? key : zero;
    tdu4 *w = m_roundWords;
    for (int i = 0; i < 4; ++i)
        w[i] = load32(k + 4 * i);
    tdu1 rcon = 0x01;
    for (int i = 4; i < 44; ++i) {
        tdu4 temp = w[i - 1];
        if (i % 4 == 0) {
            temp = subWord((temp << 8) | (temp >> 24)) ^ (tdu4(rcon) << 24);
            rcon = xtime(rcon);
        }
        w[i] = w[i - 4] ^ temp;
    }
    for (int i = 0; i < 44; ++i)
        store32(m_expandedKey + 4 * i, w[i]);
}

AES::~AES() = default;

void AES::encryptBlock(const tdu1 *in, tdu1 *out) const
{
    const tdu4 *rk = m_roundWords;
    const auto &te = kT.te;
    tdu4 s0 = load32(in) ^ rk[0];
    tdu4 s1 = load32(in + 4) ^ rk[1];
    tdu4 s2 = load32(in + 8) ^ rk[2];
    tdu4 s3 = load32(in + 12) ^ rk[3];
    for (int round = 1; round < 10; ++round) {
        rk += 4;
        const tdu4 t0 = te[0][s0 >> 24] ^ te[1][(s1 >> 16) & 0xFF] ^ te[2][(s2 >> 8) & 0xFF]
            ^ te[3][s3 & 0xFF] ^ rk[0];
        const tdu4 t1 = te[0][s1 >> 24] ^ te[1][(s2 >> 16) & 0xFF] ^ te[2][(s3 >> 8) & 0xFF]
            ^ te[3][s0 & 0xFF] ^ rk[1];
        const tdu4 t2 = te[0][s2 >> 24] ^ te[1][(s3 >> 16) & 0xFF] ^ te[2][(s0 >> 8) & 0xFF]
            ^ te[3][s1 & 0xFF] ^ rk[2];
        const tdu4 t3 = te[0][s3 >> 24] ^ te[1][(s0 >> 16) & 0xFF] ^ te[2][(s1 >> 8) & 0xFF]
            ^ te[3][s2 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const tdu1 *sb = kT.sbox;
    auto last = [sb](tdu4 a, tdu4 b, tdu4 c, tdu4 d, tdu4 k) {
        return ((tdu4(sb[a >> 24]) << 24) | (tdu4(sb[(b >> 16) & 0xFF]) << 16)
                   | (tdu4(sb[(c >> 8) & 0xFF]) << 8) | tdu4(sb[d & 0xFF]))
            ^ k;
    };
    store32(out, last(s0, s1, s2, s3, rk[0]));
    store32(out + 4, last(s1, s2, s3, s0, rk[1]));
    store32(out + 8, last(s2, s3, s0, s1, rk[2]));
    store32(out + 12, last(s3, s0, s1, s2, rk[3]));
}
