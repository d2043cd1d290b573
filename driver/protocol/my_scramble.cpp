/*
 * Password scrambles of the authentication methods the driver computes
 * itself: mysql_native_password (SHA-1), caching_sha2_password's fast path
 * (SHA-256), mysql_old_password (the pre-4.1 hash) and sha256_password
 * without TLS (RSA OAEP with the server's key).
 *
 * Intermediate buffers that hold password-derived bytes are wiped before
 * they are released: a password must not linger in freed memory.
 */
#include <math.h>
#include <string.h>

#include <memory>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "frame/my_handle.h"
#include "protocol/my_logon.h"
#include "protocol/my_sha2.h"

/* ------------------------------------------------- mysql_native_password */

/* One digest over a followed by b (b may be empty); out receives md's size,
 * which must be len. */
static int digest(const EVP_MD *md, size_t len, const unsigned char *a, size_t a_len,
                  const unsigned char *b, size_t b_len, unsigned char *out)
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    unsigned int got = 0;
    int ok = ctx && EVP_DigestInit_ex(ctx, md, nullptr) == 1 &&
             EVP_DigestUpdate(ctx, a, a_len) == 1 && (b_len == 0 || EVP_DigestUpdate(ctx, b, b_len) == 1) &&
             EVP_DigestFinal_ex(ctx, out, &got) == 1 && got == len;
    EVP_MD_CTX_free(ctx);
    return ok ? 0 : -1;
}

/* The shape both hash scrambles share: stage1 = H(pw), stage2 = H(stage1),
 * result = stage1 XOR H(salt + stage2) (salt first, mysql_native_password)
 * or stage1 XOR H(stage2 + salt) (caching_sha2_password). len <= 32. */
static int hash_scramble(const EVP_MD *md, size_t len, const unsigned char *pw, size_t pw_len,
                         const unsigned char *salt, size_t salt_len, bool salt_first,
                         unsigned char *out)
{
    unsigned char stage1[32], stage2[32];
    int rc = digest(md, len, pw, pw_len, nullptr, 0, stage1);
    if (rc == 0)
        rc = digest(md, len, stage1, len, nullptr, 0, stage2);
    if (rc == 0)
        rc = salt_first ? digest(md, len, salt, salt_len, stage2, len, out)
                        : digest(md, len, stage2, len, salt, salt_len, out);
    if (rc == 0)
        for (size_t i = 0; i < len; i++)
            out[i] ^= stage1[i];
    OPENSSL_cleanse(stage1, sizeof stage1);
    OPENSSL_cleanse(stage2, sizeof stage2);
    return rc;
}

int native_scramble(const unsigned char *pw, size_t pw_len, const unsigned char *salt,
                    unsigned char out[NATIVE_SCRAMBLE_LENGTH])
{
    return hash_scramble(EVP_sha1(), NATIVE_SCRAMBLE_LENGTH, pw, pw_len, salt,
                         NATIVE_SCRAMBLE_LENGTH, true, out);
}

/* ------------------------------------------------- caching_sha2_password */

int caching_sha2_scramble(const unsigned char *pw, size_t pw_len, const unsigned char *nonce,
                          unsigned char out[SHA2_SCRAMBLE_LENGTH])
{
    return hash_scramble(EVP_sha256(), SHA2_SCRAMBLE_LENGTH, pw, pw_len, nonce, SHA2_NONCE_LENGTH,
                         false, out);
}

/* ---------------------------------------------------- mysql_old_password */

/* The pre-4.1 text hash. Only the low 31 bits of each half are kept and every
 * step carries upwards only, so 32-bit arithmetic gives the same result as
 * the 64-bit longs of some servers. */
static void old_hash(const unsigned char *s, size_t n, uint32_t out[2])
{
    uint32_t nr = 1345345333u, add = 7, nr2 = 0x12345671u;
    for (size_t i = 0; i < n && s[i] != 0; i++) {
        if (s[i] == ' ' || s[i] == '\t')
            continue;
        uint32_t c = s[i];
        nr ^= (((nr & 63) + add) * c) + (nr << 8);
        nr2 += (nr2 << 8) ^ nr;
        add += c;
    }
    out[0] = nr & 0x7FFFFFFFu;
    out[1] = nr2 & 0x7FFFFFFFu;
}

struct old_random {
    uint64_t seed1, seed2;
};

static const uint64_t OLD_RANDOM_MAX = 0x3FFFFFFF;

static double old_random_next(old_random *r)
{
    r->seed1 = (r->seed1 * 3 + r->seed2) % OLD_RANDOM_MAX;
    r->seed2 = (r->seed1 + r->seed2 + 33) % OLD_RANDOM_MAX;
    return (double)r->seed1 / (double)OLD_RANDOM_MAX;
}

void old_scramble(const unsigned char *pw, size_t pw_len, const unsigned char *salt,
                  unsigned char out[OLD_SCRAMBLE_LENGTH])
{
    memset(out, 0, OLD_SCRAMBLE_LENGTH);
    if (!pw || pw_len == 0 || pw[0] == 0)
        return;
    uint32_t hp[2], hm[2];
    old_hash(pw, pw_len, hp);
    old_hash(salt, OLD_SCRAMBLE_LENGTH, hm);
    old_random r = {(hp[0] ^ hm[0]) % OLD_RANDOM_MAX, (hp[1] ^ hm[1]) % OLD_RANDOM_MAX};
    for (int k = 0; k < OLD_SCRAMBLE_LENGTH; k++)
        out[k] = (unsigned char)(floor(old_random_next(&r) * 31) + 64);
    unsigned char extra = (unsigned char)floor(old_random_next(&r) * 31);
    for (int k = 0; k < OLD_SCRAMBLE_LENGTH; k++)
        out[k] ^= extra;
    OPENSSL_cleanse(hp, sizeof hp);
}

/* ------------------------------------------------------- sha256_password */

struct bio_free { void operator()(BIO *b) const { BIO_free(b); } };
struct pkey_free { void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); } };
struct pkey_ctx_free { void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); } };

/* The server's key is untrusted text: it must parse as a PEM public key
 * (SubjectPublicKeyInfo, what servers send) and be an RSA key. */
static EVP_PKEY *read_public_key(const char *key, size_t key_len)
{
    if (!key || key_len == 0 || key_len > (size_t)INT32_MAX)
        return nullptr;
    std::unique_ptr<BIO, bio_free> bio(BIO_new_mem_buf(key, (int)key_len));
    if (!bio)
        return nullptr;
    EVP_PKEY *k = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
    if (k && EVP_PKEY_get_base_id(k) != EVP_PKEY_RSA) {
        EVP_PKEY_free(k);
        k = nullptr;
    }
    return k;
}

int generate_sha256(my_connection *c, const unsigned char *scramble, const unsigned char *pw,
                    size_t pw_len, const char *key, size_t key_len,
                    std::vector<unsigned char> *out)
{
    out->clear();
    QV_TRACE(c, LOG_DETAIL, "generate_sha256: RSA OAEP with a %d byte key text", (int)key_len);
    std::unique_ptr<EVP_PKEY, pkey_free> pkey(read_public_key(key, key_len));
    if (!pkey) {
        QV_TRACE(c, LOG_ERROR, "generate_sha256: failed to create public key");
        post_error(c, ST_HY000, 0, "failed to create public key");
        return -6;
    }
    /* The password with its terminator, XORed with the scramble, so that the
     * cipher text is bound to this connection. */
    std::vector<unsigned char> plain(pw, pw + pw_len);
    plain.push_back(0);
    for (size_t i = 0; i < plain.size(); i++)
        plain[i] ^= scramble[i % NATIVE_SCRAMBLE_LENGTH];

    std::unique_ptr<EVP_PKEY_CTX, pkey_ctx_free> ctx(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    size_t len = 0;
    int ok = ctx && EVP_PKEY_encrypt_init(ctx.get()) > 0 &&
             EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) > 0 &&
             EVP_PKEY_encrypt(ctx.get(), nullptr, &len, plain.data(), plain.size()) > 0;
    if (ok) {
        out->resize(len);
        ok = EVP_PKEY_encrypt(ctx.get(), out->data(), &len, plain.data(), plain.size()) > 0;
        out->resize(ok ? len : 0);
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    if (!ok) {
        /* OAEP leaves room for the key size less 42 bytes: a longer password
         * cannot be carried by this key */
        QV_TRACE(c, LOG_ERROR, "generate_sha256: RSA encryption failed");
        post_error(c, ST_HY000, 0, "failed to encrypt the password with the public key");
        return -6;
    }
    return 0;
}
