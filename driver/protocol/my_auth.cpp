/*
 * NTLM (NTLMSSP) for authentication_windows_client: NEGOTIATE, CHALLENGE,
 * AUTHENTICATE, with NTLMv2 or LM/NTLMv1 responses.
 *
 * All NTLMSSP integers are little-endian; a security buffer is length (2),
 * maximum length (2) and offset from the start of the message (4).
 */
#include "protocol/my_auth.h"

#include <string.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <string>

#include <openssl/rand.h>

#include "frame/my_handle.h"
#include "protocol/my_auth_crypto.h"

namespace {

enum {
    NEGOTIATE_HEADER = 40,
    CHALLENGE_FIXED = 48,
    CHALLENGE_FIXED_VERSION = 56,
    AUTH_HEADER = 64,
    AUTH_HEADER_VERSION = 72,
    /* Security-buffer lengths are 16 bits: a challenge beyond this is not
     * one a server could have meant. */
    MAX_CHALLENGE = 64 * 1024,
    FIRST_PACKET_DATA = 254,
    SPLIT_BLOCK = 512,
};

/* Seconds between 1601-01-01 (the Windows epoch) and 1970-01-01. */
const uint64_t EPOCH_1601 = 11644473600ULL;

const unsigned char SIGNATURE[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};

/* Bytes derived from the password; wiped when they go. */
struct secret {
    std::vector<unsigned char> b;
    ~secret() { secure_wipe(b.data(), b.size()); }
};

struct flag_name {
    uint32_t bit;
    const char *name;
};

const flag_name ntlm_flag_names[] = {
    {NTLM_NEGOTIATE_UNICODE, "NEGOTIATE_UNICODE"},
    {NTLM_NEGOTIATE_OEM, "NEGOTIATE_OEM"},
    {NTLM_REQUEST_TARGET, "REQUEST_TARGET"},
    {NTLM_NEGOTIATE_SIGN, "NEGOTIATE_SIGN"},
    {NTLM_NEGOTIATE_SEAL, "NEGOTIATE_SEAL"},
    {NTLM_NEGOTIATE_DATAGRAM_STYLE, "NEGOTIATE_DATAGRAM_STYLE"},
    {NTLM_NEGOTIATE_LM_KEY, "NEGOTIATE_LM_KEY"},
    {NTLM_NEGOTIATE_NETWARE, "NEGOTIATE_NETWARE"},
    {NTLM_NEGOTIATE_NTLM, "NEGOTIATE_NTLM"},
    {NTLM_NEGOTIATE_NT_ONLY, "NEGOTIATE_NT_ONLY"},
    {NTLM_NEGOTIATE_DOMAIN_SUPPLIED, "NEGOTIATE_DOMAIN_SUPPLIED"},
    {NTLM_NEGOTIATE_WORKSTATION_SUPPLIED, "NEGOTIATE_WORKSTATION_SUPPLIED"},
    {NTLM_NEGOTIATE_THIS_IS_LOCAL_CALL, "NEGOTIATE_THIS_IS_LOCAL_CALL"},
    {NTLM_NEGOTIATE_ALWAYS_SIGN, "NEGOTIATE_ALWAYS_SIGN"},
    {NTLM_TARGET_TYPE_DOMAIN, "TARGET_TYPE_DOMAIN"},
    {NTLM_TARGET_TYPE_SERVER, "TARGET_TYPE_SERVER"},
    {NTLM_TARGET_TYPE_SHARE, "TARGET_TYPE_SHARE"},
    {NTLM_NEGOTIATE_NTLM2, "NEGOTIATE_NTLM2"},
    {NTLM_NEGOTIATE_IDENTIFY, "NEGOTIATE_IDENTIFY"},
    {NTLM_REQUEST_NO_NT_SESSION_KEY, "REQUEST_NO_NT_SESSION_KEY"},
    {NTLM_NEGOTIATE_TARGET_INFO, "NEGOTIATE_TARGET_INFO"},
    {NTLM_NEGOTIATE_VERSION, "NEGOTIATE_VERSION"},
    {NTLM_NEGOTIATE_128, "NEGOTIATE_128"},
    {NTLM_NEGOTIATE_KEY_EXCH, "NEGOTIATE_KEY_EXCH"},
    {NTLM_NEGOTIATE_56, "NEGOTIATE_56"},
};

/* ------------------------------------------------------------ writers */

void put16(std::vector<unsigned char> &b, unsigned v)
{
    b.push_back((unsigned char)v);
    b.push_back((unsigned char)(v >> 8));
}

void put32(std::vector<unsigned char> &b, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b.push_back((unsigned char)(v >> (8 * i)));
}

void set32(std::vector<unsigned char> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = (unsigned char)(v >> (8 * i));
}

/* A security buffer written at a fixed header position. */
void set_secbuf(std::vector<unsigned char> &b, size_t at, size_t len, size_t offset)
{
    b[at] = (unsigned char)len;
    b[at + 1] = (unsigned char)(len >> 8);
    b[at + 2] = b[at];
    b[at + 3] = b[at + 1];
    set32(b, at + 4, (uint32_t)offset);
}

void put_utf16le(std::vector<unsigned char> &b, const my_string *s)
{
    for (uint32_t i = 0; s && i < s->length; i++)
        put16(b, s->data[i]);
}

std::vector<unsigned char> utf16le(const my_string *s)
{
    std::vector<unsigned char> b;
    put_utf16le(b, s);
    return b;
}

/* Units of a Latin-1 letter uppercase as Windows uppercases them; the rest
 * are kept. */
uint16_t upper_unit(uint16_t u)
{
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7))
        return (uint16_t)(u - 0x20);
    return u;
}

bool given(const my_string *s) { return s && s->length > 0; }

my_string *local_host_name()
{
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) != 0)
        host[0] = 0;
    return ms_from_latin1(host);
}

/* ------------------------------------------------------ the CHALLENGE */

/* A bounded cursor over the copied message; security buffers resolve
 * against the message's start and are checked against its end. */
struct reader {
    const std::vector<unsigned char> &m;
    size_t pos;
    bool take(void *out, size_t n)
    {
        if (n > m.size() - pos)
            return false;
        memcpy(out, m.data() + pos, n);
        pos += n;
        return true;
    }
    bool u16(uint32_t *v)
    {
        unsigned char b[2];
        if (!take(b, 2))
            return false;
        *v = (uint32_t)b[0] | (uint32_t)b[1] << 8;
        return true;
    }
    bool u32(uint32_t *v)
    {
        unsigned char b[4];
        if (!take(b, 4))
            return false;
        *v = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
        return true;
    }
};

struct secbuf {
    uint32_t len = 0, maxlen = 0, offset = 0;
};

bool read_secbuf(reader &r, secbuf *sb)
{
    return r.u16(&sb->len) && r.u16(&sb->maxlen) && r.u32(&sb->offset);
}

/* The bytes a security buffer names, or false when they lie outside the
 * message (an empty buffer is always fine, wherever it points). */
bool resolve(const std::vector<unsigned char> &m, const secbuf &sb, const unsigned char **p)
{
    *p = nullptr;
    if (sb.len == 0)
        return true;
    if (sb.offset > m.size() || sb.len > m.size() - sb.offset)
        return false;
    *p = m.data() + sb.offset;
    return true;
}

my_string *from_utf16le(const unsigned char *p, size_t bytes)
{
    size_t n = bytes / 2;
    std::vector<uint16_t> units(n);
    for (size_t i = 0; i < n; i++)
        units[i] = (uint16_t)(p[2 * i] | p[2 * i + 1] << 8);
    return ms_from_utf16(units.data(), (int64_t)n);
}

/* What the server said about itself. Names are absent (null) until known. */
struct target {
    uint32_t flags = 0;
    unsigned char nonce[NTLM_CHALLENGE] = {0};
    unsigned char timestamp[NTLM_TIMESTAMP] = {0};
    my_string *target_name = nullptr;
    my_string *computer = nullptr;       /* AvId 1 */
    my_string *domain = nullptr;         /* AvId 2 */
    my_string *dns_computer = nullptr;   /* AvId 3 */
    my_string *dns_domain = nullptr;     /* AvId 4 */
    my_string *dns_tree = nullptr;       /* AvId 5 */
    ~target()
    {
        for (my_string *s : {target_name, computer, domain, dns_computer, dns_domain, dns_tree})
            ms_free(s);
    }
};

int end_of_packet(my_connection *c)
{
    QV_TRACE(c, LOG_ERROR, "decode_auth_token: unexpected end of packet");
    post_error(c, ST_08S01, 0, "unexpected end of packet");
    return -6;
}

void trace_bytes8(my_connection *c, const char *what, const unsigned char *b)
{
    QV_TRACE(c, LOG_DETAIL, "%s=(%x,%x,%x,%x,%x,%x,%x,%x)", what, b[0], b[1], b[2], b[3], b[4],
             b[5], b[6], b[7]);
}

void client_timestamp(unsigned char out[NTLM_TIMESTAMP])
{
    uint64_t t = ((uint64_t)time(nullptr) + EPOCH_1601) * 10000000ULL;
    for (int i = 0; i < 8; i++)
        out[i] = (unsigned char)(t >> (8 * i));
}

/* Replaces *slot (a duplicate pair wins over an earlier one). */
void set_name(my_string **slot, const unsigned char *p, size_t n)
{
    ms_free(*slot);
    *slot = from_utf16le(p, n);
}

/* AV pairs up to the MsvAvEOL pair; a list that runs out before it is cut. */
int decode_target_info(my_connection *c, const unsigned char *p, size_t n, target *t)
{
    size_t pos = 0;
    for (;;) {
        if (n - pos < 4)
            return end_of_packet(c);
        unsigned id = p[pos] | p[pos + 1] << 8, len = p[pos + 2] | p[pos + 3] << 8;
        pos += 4;
        QV_TRACE(c, LOG_DETAIL, "avid=%d, avlen=%d", (int)id, (int)len);
        if (id == 0)
            return 0;
        if (len > n - pos)
            return end_of_packet(c);
        const unsigned char *v = p + pos;
        pos += len;
        switch (id) {
        case 1:
            set_name(&t->computer, v, len);
            QV_TRACE(c, LOG_DETAIL, "computer_name = '%S'", t->computer);
            break;
        case 2:
            set_name(&t->domain, v, len);
            QV_TRACE(c, LOG_DETAIL, "domain_name = '%S'", t->domain);
            break;
        case 3:
            set_name(&t->dns_computer, v, len);
            QV_TRACE(c, LOG_DETAIL, "dns_computer_name = '%S'", t->dns_computer);
            break;
        case 4:
            set_name(&t->dns_domain, v, len);
            QV_TRACE(c, LOG_DETAIL, "dns_domain_name = '%S'", t->dns_domain);
            break;
        case 5:
            set_name(&t->dns_tree, v, len);
            QV_TRACE(c, LOG_DETAIL, "dns_tree_name = '%S'", t->dns_tree);
            break;
        case 7:
            /* a time stamp of another size is not one */
            if (len != NTLM_TIMESTAMP)
                return end_of_packet(c);
            memcpy(t->timestamp, v, NTLM_TIMESTAMP);
            trace_bytes8(c, "decode_auth_token: timestamp", t->timestamp);
            break;
        default:
            break;
        }
    }
}

/* The packet's remaining bytes, the CHALLENGE message, copied out. */
int copy_message(my_connection *c, my_packet *p, std::vector<unsigned char> *m)
{
    int32_t n = packet_remaining(p);
    QV_TRACE(c, LOG_DETAIL, "remaining = %d,%d,%d", (int)n, (int)p->pos, (int)p->limit);
    if (n > MAX_CHALLENGE) {
        QV_TRACE(c, LOG_ERROR, "decode_auth_token: challenge of %d bytes", (int)n);
        post_error(c, ST_08S01, 0, "NTLM challenge of %d bytes is too long", (int)n);
        return -6;
    }
    try {
        m->resize((size_t)n);
    } catch (const std::bad_alloc &) {
        post_error(c, ST_HY001, 0, "malloc failed");
        return -1;
    }
    if (n > 0)
        packet_get_bytes(p, m->data(), m->size());
    return 0;
}

/* Signature, type, fixed fields and the names the buffers point at. */
int decode_challenge(my_connection *c, const std::vector<unsigned char> &m, target *t)
{
    reader r{m, 0};
    unsigned char sig[8];
    if (!r.take(sig, sizeof sig))
        return end_of_packet(c);
    if (memcmp(sig, SIGNATURE, sizeof sig) != 0) {
        QV_TRACE(c, LOG_ERROR, "decode_auth_token: unexpected auth prefix");
        post_error(c, ST_08S01, 0, "unexpected auth prefix");
        return -6;
    }
    uint32_t type = 0;
    if (!r.u32(&type))
        return end_of_packet(c);
    if (type != 2) {
        QV_TRACE(c, LOG_ERROR, "decode_auth_token: unexpected auth type %d", (int)type);
        post_error(c, ST_08S01, 0, "unexpected auth type %d", (int)type);
        return -6;
    }
    secbuf name, info;
    unsigned char reserved[8];
    if (!read_secbuf(r, &name) || !r.u32(&t->flags) || !r.take(t->nonce, sizeof t->nonce) ||
        !r.take(reserved, sizeof reserved) || !read_secbuf(r, &info))
        return end_of_packet(c);
    log_ntlm_flags(c, t->flags);
    if (t->flags & NTLM_REQUEST_TARGET)
        QV_TRACE(c, LOG_DETAIL, "decode_auth_token: target=(%d,%d,%d)", (int)name.len,
                 (int)name.maxlen, (int)name.offset);
    trace_bytes8(c, "decode_auth_token: nonce", t->nonce);
    if (t->flags & NTLM_NEGOTIATE_TARGET_INFO)
        QV_TRACE(c, LOG_DETAIL, "decode_auth_token: target info=(%d,%d,%d)", (int)info.len,
                 (int)info.maxlen, (int)info.offset);
    else
        info = secbuf();
    if (t->flags & NTLM_NEGOTIATE_VERSION) {
        uint32_t v1 = 0, v2 = 0;
        if (!r.u32(&v1) || !r.u32(&v2))
            return end_of_packet(c);
        QV_TRACE(c, LOG_DETAIL, "decode_auth_token: version=(%x,%x)", v1, v2);
    }
    QV_TRACE(c, LOG_DETAIL, "payload_offset = %d (%x,%x)", (int)r.pos, name.offset, info.offset);

    const unsigned char *name_bytes, *info_bytes;
    if (!resolve(m, name, &name_bytes) || !resolve(m, info, &info_bytes))
        return end_of_packet(c);
    if (name.len) {
        t->target_name = from_utf16le(name_bytes, name.len);
        QV_TRACE(c, LOG_DETAIL, "target_name = '%S'", t->target_name);
    }
    if (info.len)
        return decode_target_info(c, info_bytes, info.len, t);
    return 0;
}

/* The server names itself where the target info does not: a server
 * account by its computer name, a domain account by its domain. */
int check_domain(my_connection *c, target *t)
{
    my_string **slot = (t->flags & NTLM_TARGET_TYPE_SERVER) ? &t->computer : &t->domain;
    if (!*slot && t->target_name)
        *slot = ms_copy(t->target_name);
    if (!given(c->ntlm_domain) && !*slot) {
        QV_TRACE(c, LOG_ERROR, "No domain information supplied or returned");
        post_error(c, ST_HY000, 0, "No domain information supplied or returned");
        return -6;
    }
    if (!c->ntlm_user) {
        QV_TRACE(c, LOG_DETAIL, "NULL user name, replace with empty string");
        c->ntlm_user = ms_from_latin1("");
    }
    if (!c->PWD)
        QV_TRACE(c, LOG_DETAIL, "NULL password, replace with empty string");
    return 0;
}

/* ---------------------------------------------------- the AUTHENTICATE */

/* The blob behind NTProofStr: header, time stamp, client challenge, then
 * the AV pairs the driver echoes, the time stamp pair and the end pair. */
std::vector<unsigned char> make_blob(const target &t, const unsigned char client_ch[8])
{
    std::vector<unsigned char> b = {1, 1, 0, 0, 0, 0, 0, 0};
    b.insert(b.end(), t.timestamp, t.timestamp + NTLM_TIMESTAMP);
    b.insert(b.end(), client_ch, client_ch + NTLM_CHALLENGE);
    put32(b, 0);
    const struct {
        unsigned id;
        const my_string *value;
    } pairs[] = {{2, t.target_name}, {1, t.computer}, {3, t.dns_computer}, {4, t.dns_domain}};
    for (const auto &pr : pairs) {
        if (!pr.value)
            continue;
        /* the full 16-bit length: a name of 128 characters or more must not
         * lose its high byte and shift every pair after it */
        put16(b, pr.id);
        put16(b, (unsigned)(pr.value->length * 2));
        put_utf16le(b, pr.value);
    }
    put16(b, 7);
    put16(b, NTLM_TIMESTAMP);
    b.insert(b.end(), t.timestamp, t.timestamp + NTLM_TIMESTAMP);
    b.insert(b.end(), 8, 0);
    return b;
}

/* Header with its security buffers, then the payload pieces in order. */
struct auth_layout {
    size_t header;
    std::vector<unsigned char> domain, user, workstation, lm, nt, session_key;
    uint32_t flags;
    bool version;
};

std::vector<unsigned char> assemble(const auth_layout &a)
{
    std::vector<unsigned char> m(a.header, 0);
    memcpy(m.data(), SIGNATURE, sizeof SIGNATURE);
    set32(m, 8, 3);
    size_t at = a.header;
    size_t dom = at, usr = dom + a.domain.size(), ws = usr + a.user.size();
    size_t lm = ws + a.workstation.size(), nt = lm + a.lm.size(), sk = nt + a.nt.size();
    set_secbuf(m, 12, a.lm.size(), lm);
    set_secbuf(m, 20, a.nt.size(), nt);
    set_secbuf(m, 28, a.domain.size(), dom);
    set_secbuf(m, 36, a.user.size(), usr);
    set_secbuf(m, 44, a.workstation.size(), ws);
    set_secbuf(m, 52, a.session_key.size(), sk);
    set32(m, 60, a.flags);
    if (a.version) {
        static const unsigned char v[8] = {0x06, 0x00, 0x17, 0x70, 0x00, 0x00, 0x00, 0x0F};
        memcpy(m.data() + 64, v, sizeof v);
    }
    for (const auto *piece : {&a.domain, &a.user, &a.workstation, &a.lm, &a.nt, &a.session_key})
        m.insert(m.end(), piece->begin(), piece->end());
    return m;
}

/* The domain the NTLMv2 key and the message carry. */
const my_string *v2_domain(my_connection *c, const target &t)
{
    bool server = t.flags & NTLM_TARGET_TYPE_SERVER;
    if (given(c->ntlm_domain)) {
        QV_TRACE(c, LOG_DETAIL, server ? "Replacing info computer name with '%S'"
                                       : "Replacing info domain with '%S'", c->ntlm_domain);
        return c->ntlm_domain;
    }
    return server ? t.computer : t.domain;
}

int build_v2(my_connection *c, const target &t, std::vector<unsigned char> *out)
{
    QV_TRACE(c, LOG_DETAIL, "NTLMv2 in use");
    unsigned char client_ch[NTLM_CHALLENGE];
    if (RAND_bytes(client_ch, sizeof client_ch) != 1) {
        post_error(c, ST_HY000, 0, "no random bytes for the NTLM client challenge");
        return -1;
    }
    const my_string *domain = v2_domain(c, t);
    secret nt_hash, key;
    nt_hash.b.resize(NTLM_HASH);
    key.b.resize(NTLM_HASH);
    ntlm_nt_hash(c->PWD, nt_hash.b.data());
    ntlm_v2_key(nt_hash.b.data(), c->ntlm_user, domain, key.b.data());

    auth_layout a;
    a.version = t.flags & NTLM_NEGOTIATE_VERSION;
    a.header = a.version ? AUTH_HEADER_VERSION : AUTH_HEADER;
    a.flags = 0x60000000u | 0x888215u | (t.flags & (NTLM_TARGET_TYPE_SERVER | NTLM_NEGOTIATE_VERSION));
    log_ntlm_flags(c, a.flags);
    a.domain = utf16le(domain);
    a.user = utf16le(c->ntlm_user);
    my_string *host = local_host_name();
    a.workstation = utf16le(host);
    ms_free(host);

    a.lm.resize(NTLM_V1_RESPONSE);
    ntlm_lmv2_response(key.b.data(), t.nonce, client_ch, a.lm.data());
    std::vector<unsigned char> blob = make_blob(t, client_ch);
    unsigned char proof[NTLM_HASH];
    ntlm_v2_proof(key.b.data(), t.nonce, blob.data(), blob.size(), proof);
    a.nt.assign(proof, proof + NTLM_HASH);
    a.nt.insert(a.nt.end(), blob.begin(), blob.end());
    a.session_key.resize(NTLM_HASH);
    hmac_md5(key.b.data(), NTLM_HASH, proof, sizeof proof, nullptr, 0, a.session_key.data());
    *out = assemble(a);
    secure_wipe(a.session_key.data(), a.session_key.size());
    secure_wipe(proof, sizeof proof);
    return 0;
}

int build_v1(my_connection *c, const target &t, std::vector<unsigned char> *out)
{
    if (!given(c->ntlm_domain)) {
        ms_free(c->ntlm_domain);
        c->ntlm_domain = ms_copy((t.flags & NTLM_TARGET_TYPE_SERVER) ? t.computer : t.domain);
        QV_TRACE(c, LOG_DETAIL, "Replacing domain with '%S'", c->ntlm_domain);
    }
    secret lm_hash, nt_hash;
    lm_hash.b.resize(NTLM_HASH);
    nt_hash.b.resize(NTLM_HASH);
    ntlm_lm_hash(c->PWD, lm_hash.b.data());
    ntlm_nt_hash(c->PWD, nt_hash.b.data());

    auth_layout a;
    a.version = false;
    a.header = AUTH_HEADER;
    a.flags = NTLM_NEGOTIATE_ALWAYS_SIGN | NTLM_NEGOTIATE_NTLM | NTLM_NEGOTIATE_UNICODE;
    log_ntlm_flags(c, a.flags);
    a.domain = utf16le(c->ntlm_domain);
    a.user = utf16le(c->ntlm_user);
    my_string *host = local_host_name();
    a.workstation = utf16le(host);
    ms_free(host);
    a.lm.resize(NTLM_V1_RESPONSE);
    a.nt.resize(NTLM_V1_RESPONSE);
    ntlm_v1_response(lm_hash.b.data(), t.nonce, a.lm.data());
    ntlm_v1_response(nt_hash.b.data(), t.nonce, a.nt.data());
    *out = assemble(a);
    return 0;
}

/* Splits "DOMAIN\user" at its first backslash; false when there is none. */
bool split_account(const my_string *s, my_string **domain, my_string **user)
{
    int64_t at = ms_find(s, '\\');
    if (at < 0)
        return false;
    *domain = ms_substr(s, 0, at);
    *user = ms_substr(s, at + 1, -1);
    return true;
}

void choose_account(my_connection *c)
{
    ms_free(c->ntlm_user);
    ms_free(c->ntlm_domain);
    c->ntlm_user = c->ntlm_domain = nullptr;
    if (split_account(c->UID, &c->ntlm_domain, &c->ntlm_user) ||
        split_account(c->WindowsUser, &c->ntlm_domain, &c->ntlm_user)) {
        QV_TRACE(c, LOG_DETAIL, "create_logon_packet: using trusted connection, domain='%S', user='%S'",
                 c->ntlm_domain, c->ntlm_user);
        return;
    }
    c->ntlm_user = ms_copy(given(c->WindowsUser) ? c->WindowsUser : c->UID);
}

} // namespace

/* ------------------------------------------------------------ exported */

void log_ntlm_flags(my_connection *c, uint32_t flags)
{
    if (!handle_log_flags(c))
        return;
    QV_TRACE(c, LOG_DETAIL, "ntlm log_ntlm_flags: flags=%x", flags);
    for (const flag_name &f : ntlm_flag_names)
        if (flags & f.bit)
            QV_TRACE(c, LOG_CONTINUE, "+%s", f.name);
}

int auth_send_packet(my_connection *c, my_packet *p)
{
    if (!p)
        return 0;
    int rc = packet_send(c, p);
    /* the whole buffer: a packet that grew may hold more than it sent */
    secure_wipe(p->data, (size_t)p->limit);
    packet_free(p);
    if (rc != 0) {
        QV_TRACE(c, LOG_ERROR, "my_connect: failed sending packet");
        post_error(c, ST_08S01, 0, nullptr);
        return -1;
    }
    return 0;
}

int auth_send_bytes(my_connection *c, const void *bytes, size_t n)
{
    my_packet *p = packet_new(c);
    if (!p || packet_put_bytes(p, bytes, n) != 0) {
        if (p)
            secure_wipe(p->data, (size_t)p->limit);
        packet_free(p);
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    return auth_send_packet(c, p);
}

int auth_split_first(my_connection *c, const unsigned char *msg, size_t n, my_packet **out)
{
    *out = nullptr;
    /* Only a message that cannot go whole is split: the server takes a first
     * packet of exactly 255 bytes as the split form, so 251 to 254 bytes go
     * as they are (there are no 254 bytes to take from them). */
    if (n > FIRST_PACKET_DATA) {
        size_t blocks = (n + SPLIT_BLOCK - 1) / SPLIT_BLOCK;
        if (blocks > 255) {
            post_error(c, ST_HY000, 0, "authentication message of %d bytes is too long", (int)n);
            return -1;
        }
        unsigned char first[FIRST_PACKET_DATA + 1];
        memcpy(first, msg, FIRST_PACKET_DATA);
        first[FIRST_PACKET_DATA] = (unsigned char)blocks;
        int rc = auth_send_bytes(c, first, sizeof first);
        secure_wipe(first, sizeof first);
        if (rc != 0)
            return -1;
        msg += FIRST_PACKET_DATA;
        n -= FIRST_PACKET_DATA;
    }
    my_packet *p = packet_new(c);
    if (!p || packet_put_bytes(p, msg, n) != 0) {
        packet_free(p);
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    *out = p;
    return 0;
}

int create_logon_packet(my_connection *c, my_packet **out)
{
    *out = nullptr;
    choose_account(c);
    std::string workstation, domain;
    if (c->NTLMv2) {
        char host[256] = {0};
        if (gethostname(host, sizeof host - 1) == 0)
            workstation = host;
        char *d = ms_to_narrow(c->ntlm_domain, c);
        if (d)
            domain = d;
        free(d);
    }
    uint32_t flags = 0xA2000295u;
    if (c->NTLMv2) {
        flags = 0xE2088000u | 0x297u;
        if (!domain.empty())
            flags |= NTLM_NEGOTIATE_DOMAIN_SUPPLIED;
        if (!workstation.empty())
            flags |= NTLM_NEGOTIATE_WORKSTATION_SUPPLIED;
    }
    log_ntlm_flags(c, flags);

    std::vector<unsigned char> m(NEGOTIATE_HEADER, 0);
    memcpy(m.data(), SIGNATURE, sizeof SIGNATURE);
    set32(m, 8, 1);
    set32(m, 12, flags);
    set_secbuf(m, 16, domain.size(), domain.empty() ? 0 : NEGOTIATE_HEADER + workstation.size());
    set_secbuf(m, 24, workstation.size(), workstation.empty() ? 0 : NEGOTIATE_HEADER);
    static const unsigned char version[8] = {0x06, 0x02, 0xF0, 0x23, 0x00, 0x00, 0x00, 0x0F};
    memcpy(m.data() + 32, version, sizeof version);
    m.insert(m.end(), workstation.begin(), workstation.end());
    m.insert(m.end(), domain.begin(), domain.end());
    return auth_split_first(c, m.data(), m.size(), out);
}

int decode_auth_token(my_connection *c, my_packet *p, my_packet **out, int prefix_skipped)
{
    *out = nullptr;
    if (!prefix_skipped)
        packet_get_u8(p, nullptr);
    std::vector<unsigned char> m;
    int rc = copy_message(c, p, &m);
    if (rc != 0)
        return rc;
    target t;
    client_timestamp(t.timestamp);
    trace_bytes8(c, "outgoing timestamp", t.timestamp);
    if ((rc = decode_challenge(c, m, &t)) != 0 || (rc = check_domain(c, &t)) != 0)
        return rc;

    std::vector<unsigned char> msg;
    rc = c->NTLMv2 ? build_v2(c, t, &msg) : build_v1(c, t, &msg);
    if (rc != 0)
        return rc;
    my_packet *pk = packet_new(c);
    if (!pk || packet_put_bytes(pk, msg.data(), msg.size()) != 0) {
        packet_free(pk);
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    secure_wipe(msg.data(), msg.size());
    *out = pk;
    return 0;
}

/* -------------------------------------------------------- computations */

void ntlm_nt_hash(const my_string *password, unsigned char out[NTLM_HASH])
{
    secret pw;
    pw.b = utf16le(password);
    md4_digest(pw.b.data(), pw.b.size(), out);
}

void ntlm_lm_hash(const my_string *password, unsigned char out[NTLM_HASH])
{
    static const unsigned char magic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
    unsigned char pw[14] = {0}, key[8];
    for (uint32_t i = 0; password && i < password->length && i < sizeof pw; i++)
        pw[i] = (unsigned char)upper_unit(password->data[i] & 0xFF);
    des_key_from_56(pw, key);
    des_encrypt_block(key, magic, out);
    des_key_from_56(pw + 7, key);
    des_encrypt_block(key, magic, out + 8);
    secure_wipe(pw, sizeof pw);
    secure_wipe(key, sizeof key);
}

void ntlm_v1_response(const unsigned char hash[NTLM_HASH], const unsigned char challenge[8],
                      unsigned char out[NTLM_V1_RESPONSE])
{
    unsigned char k21[21] = {0}, key[8];
    memcpy(k21, hash, NTLM_HASH);
    for (int i = 0; i < 3; i++) {
        des_key_from_56(k21 + 7 * i, key);
        des_encrypt_block(key, challenge, out + 8 * i);
    }
    secure_wipe(k21, sizeof k21);
    secure_wipe(key, sizeof key);
}

void ntlm_v2_key(const unsigned char nt_hash[NTLM_HASH], const my_string *user,
                 const my_string *domain, unsigned char out[NTLM_HASH])
{
    /* The whole names go in: a key over a cut name could never match the
     * one the domain controller computes. */
    secret text;
    for (uint32_t i = 0; user && i < user->length; i++)
        put16(text.b, upper_unit(user->data[i]));
    put_utf16le(text.b, domain);
    hmac_md5(nt_hash, NTLM_HASH, text.b.data(), text.b.size(), nullptr, 0, out);
}

void ntlm_lmv2_response(const unsigned char key[NTLM_HASH], const unsigned char server_ch[8],
                        const unsigned char client_ch[8], unsigned char out[NTLM_V1_RESPONSE])
{
    hmac_md5(key, NTLM_HASH, server_ch, NTLM_CHALLENGE, client_ch, NTLM_CHALLENGE, out);
    memcpy(out + NTLM_HASH, client_ch, NTLM_CHALLENGE);
}

void ntlm_v2_proof(const unsigned char key[NTLM_HASH], const unsigned char server_ch[8],
                   const unsigned char *blob, size_t blob_len, unsigned char out[NTLM_HASH])
{
    hmac_md5(key, NTLM_HASH, server_ch, NTLM_CHALLENGE, blob, blob_len, out);
}
