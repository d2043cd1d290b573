// The password proofs of the current servers' methods, checked the way the
// servers check them: the caching_sha2_password scramble against the hash a
// MySQL server keeps (SHA256(SHA256(pw))), and MariaDB's client_ed25519
// signature against libsodium's own Ed25519 (which agrees with it whenever
// the password is exactly 32 bytes, the length of a standard seed) and its
// verifier for passwords of any length.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include <openssl/evp.h>
#include <sodium.h>

#include "protocol/my_ed25519.h"
#include "protocol/my_sha2.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes sha256(const bytes &a, const bytes &b = bytes())
{
    bytes d = a;
    d.insert(d.end(), b.begin(), b.end());
    bytes out(32);
    unsigned len = 0;
    EVP_Digest(d.data(), d.size(), out.data(), &len, EVP_sha256(), nullptr);
    return out;
}

bytes b_of(const std::string &s) { return bytes(s.begin(), s.end()); }

// The server's fast-path check: XOR the answer with SHA256(stored + nonce)
// to recover SHA256(pw), whose hash must be the stored value.
bool server_accepts(const bytes &answer, const std::string &stored_for, const bytes &nonce)
{
    bytes stored = sha256(sha256(b_of(stored_for)));
    bytes mask = sha256(stored, nonce);
    bytes candidate(32);
    for (int i = 0; i < 32; i++)
        candidate[i] = answer[i] ^ mask[i];
    return sha256(candidate) == stored;
}

TEST(CachingSha2Scramble, TheServersCheckAcceptsOnlyTheRightPassword)
{
    const bytes nonce = b_of("0123456789abcdefghij");
    const bytes other_nonce = b_of("0123456789abcdefghiX");
    for (const std::string &pw : std::vector<std::string>{
             "secret", "x", std::string("p\xC3\xA4ss w\0rd", 11), std::string(300, 'L')}) {
        SCOPED_TRACE(pw.size());
        unsigned char out[SHA2_SCRAMBLE_LENGTH];
        ASSERT_EQ(caching_sha2_scramble((const unsigned char *)pw.data(), pw.size(), nonce.data(), out), 0);
        bytes answer(out, out + sizeof out);
        EXPECT_TRUE(server_accepts(answer, pw, nonce));
        EXPECT_FALSE(server_accepts(answer, pw + "!", nonce));
        EXPECT_FALSE(server_accepts(answer, pw, other_nonce)) << "bound to the nonce";
    }
}

TEST(CachingSha2Scramble, OnlyTwentyNonceBytesCount)
{
    // the switch carries the nonce with a terminator; the greeting's part 2
    // may carry one too: nothing beyond 20 bytes may change the answer
    bytes n1 = b_of("0123456789abcdefghij"), n2 = n1;
    n1.push_back(0);
    n2.push_back('Z');
    unsigned char a[SHA2_SCRAMBLE_LENGTH], b[SHA2_SCRAMBLE_LENGTH];
    caching_sha2_scramble((const unsigned char *)"pw", 2, n1.data(), a);
    caching_sha2_scramble((const unsigned char *)"pw", 2, n2.data(), b);
    EXPECT_EQ(0, memcmp(a, b, sizeof a));
}

TEST(Ed25519PasswordSign, MatchesStandardEd25519ForSeedSizedPasswords)
{
    ASSERT_GE(sodium_init(), 0);
    const bytes nonce = b_of("the server's 32-byte nonce here!");
    for (const std::string &pw : {std::string(32, 'a'), std::string("0123456789abcdef0123456789ABCDEF"),
                                 std::string(32, '\0')}) {
        unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
        crypto_sign_seed_keypair(pk, sk, (const unsigned char *)pw.data());
        unsigned char expect[crypto_sign_BYTES];
        crypto_sign_detached(expect, nullptr, nonce.data(), nonce.size(), sk);

        unsigned char sig[ED25519_SIGNATURE_LENGTH], mine_pk[ED25519_PUBLIC_KEY_LENGTH];
        ASSERT_EQ(ed25519_password_sign((const unsigned char *)pw.data(), pw.size(), nonce.data(),
                                        nonce.size(), sig, mine_pk),
                  0);
        EXPECT_EQ(0, memcmp(sig, expect, sizeof sig));
        EXPECT_EQ(0, memcmp(mine_pk, pk, sizeof pk));
    }
}

TEST(Ed25519PasswordSign, VerifiesForPasswordsOfAnyLength)
{
    ASSERT_GE(sodium_init(), 0);
    bytes nonce(ED25519_NONCE_LENGTH);
    randombytes_buf(nonce.data(), nonce.size());
    for (const std::string &pw : {std::string(), std::string("ed-Secret_1"),
                                 std::string("\xC3\xA9t\xC3\xA9"), std::string(1000, 'z')}) {
        SCOPED_TRACE(pw.size());
        unsigned char sig[ED25519_SIGNATURE_LENGTH], pk[ED25519_PUBLIC_KEY_LENGTH];
        ASSERT_EQ(ed25519_password_sign((const unsigned char *)pw.data(), pw.size(), nonce.data(),
                                        nonce.size(), sig, pk),
                  0);
        EXPECT_EQ(crypto_sign_verify_detached(sig, nonce.data(), nonce.size(), pk), 0);
        // another password gives another key: its signature does not verify
        unsigned char other[ED25519_SIGNATURE_LENGTH];
        std::string wrong = pw + "x";
        ed25519_password_sign((const unsigned char *)wrong.data(), wrong.size(), nonce.data(),
                              nonce.size(), other, nullptr);
        EXPECT_NE(crypto_sign_verify_detached(other, nonce.data(), nonce.size(), pk), 0);
    }
}

} // namespace
