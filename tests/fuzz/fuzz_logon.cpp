// Fuzz target: the handshake and the authentication exchange. The input's
// first byte sets the connection's settings, the rest is everything the
// server sends: the greeting, then the answers to the handshake response
// (OK, error, auth switch with any method's data, the old-password request,
// the sha256 public key, an NTLM CHALLENGE, Kerberos tokens), and, when the
// session is set up after the logon, the answers to its statements.
//
// Setting bits: 1 Compress; 2 set up the session after the logon (else a
// bare logon, as the KILL QUERY link makes); 4 NTLMv2; 8 a WindowsUser with
// a domain; 16 no password; 32 a database; 64 ReqCharSet Latin-1; 128 a user
// name with characters beyond ASCII. TLS is never asked for: its bytes are
// OpenSSL's to parse.
#include <stdint.h>
#include <stdlib.h>

#include <sql.h>
#include <sqlext.h>

#include "connect/my_session.h"
#include "frame/my_handle.h"
#include "fuzz/fuzz_support.h"
#include "protocol/my_logon.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A server may switch to a Kerberos method: the GSS-API library then
    // finds no configuration and no credentials, and fails at once.
    setenv("KRB5_CONFIG", "/dev/null", 1);
    setenv("KRB5CCNAME", "FILE:/nonexistent/qvfuzz-ccache", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    unsigned set = data[0];
    qvfuzz::link l(data + 1, size - 1, false);
    my_connection *c = l.c;
    c->SERVER = ms_from_latin1("127.0.0.1");
    c->UID = ms_from_utf8((set & 128) ? "f\xC3\xBCzz\xE2\x82\xAC" : "fuzz", MS_NTS);
    if (!(set & 16))
        c->PWD = ms_from_latin1("fuzz-Secret_42");
    if (set & 32)
        c->DATABASE = ms_from_latin1("fuzzdb");
    if (set & 8)
        c->WindowsUser = ms_from_latin1("FUZZDOM\\fuzzer");
    c->Compress = (set & 1) != 0;
    c->NTLMv2 = (set & 4) != 0;
    c->ReqCharSet = (set & 64) ? 8 : 0;
    c->requested_charset = c->ReqCharSet;
    packet_reset_seq(c);

    const bool session = (set & 2) != 0;   /* else the logon only, as for KILL QUERY */
    if (logon_exchange(c) == 0 && session)
        session_setup(c);
    return 0;
}
