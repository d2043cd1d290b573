// The NTLM primitives against their published vectors (RFC 1320, RFC 1321,
// RFC 2104/2202, FIPS 46/81) and the NTLM responses against the worked
// examples of Microsoft's MS-NLMP (section 4.2: user "User", domain
// "Domain", password "Password", server challenge 0123456789abcdef, client
// challenge aa * 8, time 0), byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <openssl/evp.h>

#include "frame/my_handle.h"
#include "protocol/my_auth.h"
#include "protocol/my_auth_crypto.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes hex(const std::string &h)
{
    bytes b;
    for (size_t i = 0; i + 1 < h.size();) {
        if (h[i] == ' ') {
            i++;
            continue;
        }
        b.push_back((unsigned char)std::stoul(h.substr(i, 2), nullptr, 16));
        i += 2;
    }
    return b;
}

bytes b_of(const std::string &s) { return bytes(s.begin(), s.end()); }

struct owned {
    my_string *s;
    explicit owned(const char *t) : s(ms_from_latin1(t)) {}
    ~owned() { ms_free(s); }
};

const std::string MILLION_DIGITS =
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890";

TEST(ntlm_crypto, Md4AndMd5PublishedVectors)
{
    struct {
        std::string text, md4, md5;
    } cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "d9130a8164549fe818874806e1c7014b", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9",
         "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "043f8582f241db351ce627e153e7f0e4", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {MILLION_DIGITS, "e33b4ddc9c38f2199c3e7b164fcc0536", "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        unsigned char d[16];
        md4_digest(c.text.data(), c.text.size(), d);
        EXPECT_EQ(bytes(d, d + 16), hex(c.md4));
        md5_digest(c.text.data(), c.text.size(), d);
        EXPECT_EQ(bytes(d, d + 16), hex(c.md5));
    }
    // around the padding boundary (one or two final blocks), against OpenSSL
    for (size_t n : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u}) {
        std::string s(n, 'x');
        unsigned char a[16], b[16];
        unsigned len = 0;
        md5_digest(s.data(), s.size(), a);
        EVP_Digest(s.data(), s.size(), b, &len, EVP_md5(), nullptr);
        EXPECT_EQ(bytes(a, a + 16), bytes(b, b + 16)) << n;
    }
}

TEST(ntlm_crypto, HmacMd5PublishedVectors)
{
    struct {
        bytes key, data;
        std::string mac;
    } cases[] = {
        {bytes(16, 0x0b), b_of("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
        {b_of("Jefe"), b_of("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
        {bytes(16, 0xaa), bytes(50, 0xdd), "56be34521d144c88dbb8c733f0e8b3f6"},
        // a key longer than the block is hashed first
        {bytes(80, 0xaa), b_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
    };
    for (const auto &c : cases) {
        unsigned char m[16];
        hmac_md5(c.key.data(), c.key.size(), c.data.data(), c.data.size(), nullptr, 0, m);
        EXPECT_EQ(bytes(m, m + 16), hex(c.mac));
        // the two-piece form MACs the concatenation
        size_t half = c.data.size() / 2;
        hmac_md5(c.key.data(), c.key.size(), c.data.data(), half, c.data.data() + half,
                 c.data.size() - half, m);
        EXPECT_EQ(bytes(m, m + 16), hex(c.mac));
    }
}

TEST(ntlm_crypto, DesKnownVectors)
{
    struct {
        std::string key, plain, cipher;
    } cases[] = {
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},   // the classic worked example
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},   // FIPS 81: "Now is t"
        {"0e329232ea6d0d73", "8787878787878787", "0000000000000000"},
        {"0101010101010101", "4b47532140232425", "aad3b435b51404ee"},   // LM hash of ""
    };
    for (const auto &c : cases) {
        bytes k = hex(c.key), p = hex(c.plain);
        unsigned char out[8];
        des_encrypt_block(k.data(), p.data(), out);
        EXPECT_EQ(bytes(out, out + 8), hex(c.cipher)) << c.key;
    }
    // 7-byte keys spread with odd parity
    unsigned char k8[8];
    const unsigned char zero7[7] = {0}, ones7[7] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    des_key_from_56(zero7, k8);
    EXPECT_EQ(bytes(k8, k8 + 8), bytes(8, 0x01));
    des_key_from_56(ones7, k8);
    EXPECT_EQ(bytes(k8, k8 + 8), bytes(8, 0xfe));
}

// MS-NLMP 4.2.2: NTLM v1 authentication.
TEST(ntlm_crypto, NtlmV1ResponsesOfTheWorkedExample)
{
    owned pw("Password");
    const bytes challenge = hex("0123456789abcdef");
    unsigned char nt[16], lm[16], r[24];
    ntlm_nt_hash(pw.s, nt);
    EXPECT_EQ(bytes(nt, nt + 16), hex("a4f49c406510bdcab6824ee7c30fd852"));
    ntlm_lm_hash(pw.s, lm);
    EXPECT_EQ(bytes(lm, lm + 16), hex("e52cac67419a9a224a3b108f3fa6cb6d"));
    ntlm_v1_response(nt, challenge.data(), r);
    EXPECT_EQ(bytes(r, r + 24), hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94"));
    ntlm_v1_response(lm, challenge.data(), r);
    EXPECT_EQ(bytes(r, r + 24), hex("98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13"));

    // the LM hash ignores case and everything after 14 characters
    owned lower("password"), longer("PASSWORD-and-then-more");
    unsigned char lm2[16];
    ntlm_lm_hash(lower.s, lm2);
    EXPECT_EQ(bytes(lm, lm + 16), bytes(lm2, lm2 + 16));
    ntlm_lm_hash(nullptr, lm2);
    EXPECT_EQ(bytes(lm2, lm2 + 16), hex("aad3b435b51404eeaad3b435b51404ee"));
    ntlm_nt_hash(nullptr, lm2);
    EXPECT_EQ(bytes(lm2, lm2 + 16), hex("31d6cfe0d16ae931b73c59d7e0c089c0"));
}

// MS-NLMP 4.2.4: NTLMv2 authentication.
const bytes EXAMPLE_TARGET_INFO =
    hex("02000c0044006f006d00610069006e00 01000c005300650072007600650072000000 0000");

TEST(ntlm_crypto, NtlmV2ResponsesOfTheWorkedExample)
{
    owned pw("Password"), user("User"), domain("Domain");
    const bytes server_ch = hex("0123456789abcdef"), client_ch(8, 0xaa);
    unsigned char nt[16], key[16];
    ntlm_nt_hash(pw.s, nt);
    ntlm_v2_key(nt, user.s, domain.s, key);
    EXPECT_EQ(bytes(key, key + 16), hex("0c868a403bfd7a93a3001ef22ef02e3f"));

    unsigned char lm[24];
    ntlm_lmv2_response(key, server_ch.data(), client_ch.data(), lm);
    EXPECT_EQ(bytes(lm, lm + 24), hex("86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa"));

    bytes blob = hex("0101000000000000 0000000000000000");
    blob.insert(blob.end(), client_ch.begin(), client_ch.end());
    blob.insert(blob.end(), 4, 0);
    blob.insert(blob.end(), EXAMPLE_TARGET_INFO.begin(), EXAMPLE_TARGET_INFO.end());
    blob.insert(blob.end(), 4, 0);
    unsigned char proof[16], session[16];
    ntlm_v2_proof(key, server_ch.data(), blob.data(), blob.size(), proof);
    EXPECT_EQ(bytes(proof, proof + 16), hex("68cd0ab851e51c96aabc927bebef6a1c"));
    hmac_md5(key, 16, proof, 16, nullptr, 0, session);
    EXPECT_EQ(bytes(session, session + 16), hex("8de40ccadbc14a82f15cb0ad0de95ca3"));

    // the user is uppercased, the domain is not
    owned upper_user("USER"), upper_domain("DOMAIN");
    unsigned char key2[16];
    ntlm_v2_key(nt, upper_user.s, domain.s, key2);
    EXPECT_EQ(bytes(key, key + 16), bytes(key2, key2 + 16));
    ntlm_v2_key(nt, user.s, upper_domain.s, key2);
    EXPECT_NE(bytes(key, key + 16), bytes(key2, key2 + 16));
}

} // namespace
