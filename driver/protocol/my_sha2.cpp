/*
 * caching_sha2_password: the judgement of the server's status and key
 * packets (see my_sha2.h; the scramble is in my_scramble.cpp with the
 * other hash scrambles).
 */
#include "protocol/my_sha2.h"


#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "frame/my_handle.h"

enum {
    SHA2_FAST_AUTH_OK = 3,
    SHA2_FULL_AUTH = 4,
    /* A PEM public key is a few kilobytes even for 16384-bit keys. */
    SHA2_MAX_KEY = 64 * 1024,
};

static sha2_action sha2_protocol_error(my_connection *c, const char *what, int value)
{
    QV_TRACE(c, LOG_ERROR, "caching_sha2_password: %s (%d)", what, value);
    post_error(c, ST_08S01, 0, "caching_sha2_password: %s (%d)", what, value);
    return SHA2_FAILED;
}

/* The key must parse as a PEM RSA public key before anything is encrypted
 * with it: a server that sends something else is not following the
 * protocol. */
static bool usable_rsa_key(const std::vector<char> &key)
{
    if (key.empty())
        return false;
    BIO *bio = BIO_new_mem_buf(key.data(), (int)key.size());
    EVP_PKEY *k = bio ? PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr) : nullptr;
    bool ok = k && EVP_PKEY_get_base_id(k) == EVP_PKEY_RSA;
    EVP_PKEY_free(k);
    BIO_free(bio);
    return ok;
}

static sha2_action server_key(my_connection *c, my_packet *p, int *phase, std::vector<char> *key)
{
    *phase = SHA2_IDLE;
    packet_get_u8(p, nullptr);   /* 0x01 */
    int32_t len = packet_remaining(p);
    if (len > SHA2_MAX_KEY)
        return sha2_protocol_error(c, "public key packet too long", (int)len);
    key->assign((size_t)len, 0);
    if (len > 0)
        packet_get_bytes(p, key->data(), key->size());
    QV_DUMP(c, LOG_DETAIL, key->data(), (int64_t)key->size(), "my_connect: public key");
    if (!usable_rsa_key(*key)) {
        QV_TRACE(c, LOG_ERROR, "caching_sha2_password: the server's public key is unusable");
        post_error(c, ST_08S01, 0, "caching_sha2_password: the server sent no usable RSA public key");
        return SHA2_FAILED;
    }
    return SHA2_ENCRYPT_SERVER;
}

sha2_action caching_sha2_step(my_connection *c, my_packet *p, int *phase, int private_channel,
                              int has_password, int has_key_file, std::vector<char> *key)
{
    if (*phase == SHA2_KEY_ASKED)
        return server_key(c, p, phase, key);
    if (*phase != SHA2_SCRAMBLED) {
        *phase = SHA2_IDLE;
        return sha2_protocol_error(c, "unexpected packet after fast authentication",
                                   (int)packet_remaining(p));
    }
    /* exactly the marker and one status byte */
    if (packet_remaining(p) != 2) {
        *phase = SHA2_IDLE;
        return sha2_protocol_error(c, "malformed status packet of length", (int)packet_remaining(p));
    }
    unsigned code = 0;
    packet_get_u8(p, nullptr);
    packet_get_u8(p, &code);
    if (code == SHA2_FAST_AUTH_OK) {
        QV_TRACE(c, LOG_DETAIL, "caching_sha2_password: fast authentication succeeded");
        *phase = SHA2_FAST_DONE;
        return SHA2_NOTHING;
    }
    if (code != SHA2_FULL_AUTH) {
        *phase = SHA2_IDLE;
        return sha2_protocol_error(c, "unknown status", (int)code);
    }
    QV_TRACE(c, LOG_DETAIL, "caching_sha2_password: full authentication%s",
             private_channel ? " over a private channel" : "");
    *phase = SHA2_IDLE;
    if (!has_password)
        return SHA2_SEND_EMPTY;
    if (private_channel)
        return SHA2_SEND_CLEAR;
    if (has_key_file)
        return SHA2_ENCRYPT_FILE;
    *phase = SHA2_KEY_ASKED;
    return SHA2_ASK_KEY;
}
