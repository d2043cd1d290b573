/*
 * Decoders of the protocol's fixed-format responses: ERR, EOF and OK
 * packets, column and parameter definitions (4.1 and 3.20 forms), the
 * prepare OK packet and field-list definitions.
 *
 * handle is the statement or connection that issued the command; status
 * values (affected rows, server status, warnings) land in its
 * command_status. Packets are incoming my_packets positioned at the first
 * payload byte (pos 4); the caller keeps ownership of the packet it passes.
 *
 * Every value read from a packet is bounds-checked. Return codes:
 *   0   success
 *   -1  failure with diagnostics posted (read failure: 08S01 from the packet
 *       layer, or HYT00 here after a time-out; server ERR packet in place of
 *       an expected EOF; no memory)
 *   -6  short, malformed or unexpected packet; 08S01 is posted on the handle
 *       before returning, so the caller adds nothing
 */
#ifndef QV_MY_DECODE_H
#define QV_MY_DECODE_H

#include <stdint.h>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* What a definition decoder fills. */
enum def_kind {
    DEF_COLUMNS = 0,   /* result columns into the IRD (made current) */
    DEF_PARAMS = 1,    /* parameters into the IPD (made current) */
    DEF_FIELDS = 2,    /* columns into the statement's implicit_fdd */
};

/* ERR packet: posts the server's SQLSTATE, error number and text on handle.
 * Always 0. */
int decode_error_packet(void *handle, my_packet *p);
/* The same packet decoded for the trace only ("<op>: Error Packet ..."):
 * nothing is posted. Returns the server's error number. */
int trace_error_packet(void *handle, my_packet *p, const char *op);

/* EOF packet (also the OK-shaped end-of-rows packet sent with
 * CLIENT_DEPRECATE_EOF): stores server status and warnings. quiet: no log. */
int decode_eof_packet(void *handle, my_packet *p, int quiet);

/* OK packet: stores affected rows (or the matched/records count of its
 * information text), server status and warnings. -6 when the packet is not an
 * OK packet or is cut short. */
int decode_ok_packet(void *handle, my_packet *p, int quiet);

/* count definitions of the given kind. prepared = 1 reads them from the
 * wire; 0 takes a statement's queued packets first. Unless the client
 * negotiated CLIENT_DEPRECATE_EOF an EOF packet must follow them. For a
 * text-protocol result (prepared = 0) the connection is marked busy with the
 * statement (none for a connection handle) and the statement's data_waiting
 * set. A count outside 0..MAX_DESC_RECORDS is -6. On failure the target
 * descriptor is left empty and not described. */
int decode_field_defs(void *handle, int64_t count, int kind, int prepared);

/* The prepare OK packet p and the parameter and column definitions that
 * follow it on the wire. Sets prepared and statement_id on success. */
int decode_prep_stmt(my_statement *stmt, my_packet *p);
/* Only the prepare OK packet itself (traced; the statement's warning count
 * set): the statement id and the counts of the definitions that follow it.
 * 0, or -6 with 08S01 posted. */
struct prepare_ok {
    uint32_t statement_id;
    int columns;
    int params;
};
int decode_prepare_ok(my_statement *stmt, my_packet *p, prepare_ok *out);

/* One definition of a field-list response, for column index (from 0):
 * index 0 starts a new IRD, later ones grow it. On failure the IRD is left
 * empty and not described. */
int decode_field_list(my_statement *stmt, my_packet *p, int index);

#endif
