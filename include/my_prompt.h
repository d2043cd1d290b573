/*
 * The prompt record exchanged between the driver and its setup library, and
 * the two functions the setup library exports for the driver.
 *
 * The layout is a fixed binary contract (16,452 bytes, no padding): both
 * libraries compile against this one definition, and the offsets are pinned
 * below so a change to the record cannot slip through unnoticed. Text fields
 * hold NUL-terminated narrow text in the connection's narrow encoding (the
 * encoding complete_info is given the initial values in); the reader must
 * still bound every field by its size.
 */
#ifndef QV_MY_PROMPT_H
#define QV_MY_PROMPT_H

#include <stddef.h>
#include <stdint.h>

struct my_connection;

enum { PROMPT_TEXT_SIZE = 1024 };

struct my_prompt {
    char DSN[PROMPT_TEXT_SIZE];
    char UID[PROMPT_TEXT_SIZE];
    char PWD[PROMPT_TEXT_SIZE];
    char SERVER[PROMPT_TEXT_SIZE];
    char SOCKET[PROMPT_TEXT_SIZE];
    char DATABASE[PROMPT_TEXT_SIZE];
    char Entropy[PROMPT_TEXT_SIZE];
    char character_set_client[PROMPT_TEXT_SIZE];
    char character_set_results[PROMPT_TEXT_SIZE];
    char collation_connection[PROMPT_TEXT_SIZE];
    char PrivateKeyFile[PROMPT_TEXT_SIZE];
    char CertificateFile[PROMPT_TEXT_SIZE];
    char PublicKeyFile[PROMPT_TEXT_SIZE];
    int32_t PORT;
    int32_t IPV6;
    int32_t ConvToUtf;
    int32_t ConvWToUtf;
    int32_t LogonTimeout;
    int32_t ConnectionTimeout;
    int32_t RCVBUFFER;
    int32_t Encrypt;
    int32_t Compress;
    int32_t TrustServerCertificate;
    int32_t Text_Prepare;
    int32_t NoCache;
    int32_t ReqCharSet;
    int32_t AnsiMode;
    int32_t NTLMv2;
    char SQLMode[PROMPT_TEXT_SIZE];
    char WindowsUser[PROMPT_TEXT_SIZE];
    int32_t Kerberos;
    char Principal[PROMPT_TEXT_SIZE];
    int32_t NullDatetimes;
};

static_assert(sizeof(my_prompt) == 16452, "prompt record size");
static_assert(offsetof(my_prompt, DSN) == 0, "prompt record layout");
static_assert(offsetof(my_prompt, UID) == 1024, "prompt record layout");
static_assert(offsetof(my_prompt, PWD) == 2048, "prompt record layout");
static_assert(offsetof(my_prompt, SERVER) == 3072, "prompt record layout");
static_assert(offsetof(my_prompt, SOCKET) == 4096, "prompt record layout");
static_assert(offsetof(my_prompt, DATABASE) == 5120, "prompt record layout");
static_assert(offsetof(my_prompt, Entropy) == 6144, "prompt record layout");
static_assert(offsetof(my_prompt, character_set_client) == 7168, "prompt record layout");
static_assert(offsetof(my_prompt, character_set_results) == 8192, "prompt record layout");
static_assert(offsetof(my_prompt, collation_connection) == 9216, "prompt record layout");
static_assert(offsetof(my_prompt, PrivateKeyFile) == 10240, "prompt record layout");
static_assert(offsetof(my_prompt, CertificateFile) == 11264, "prompt record layout");
static_assert(offsetof(my_prompt, PublicKeyFile) == 12288, "prompt record layout");
static_assert(offsetof(my_prompt, PORT) == 13312, "prompt record layout");
static_assert(offsetof(my_prompt, IPV6) == 13316, "prompt record layout");
static_assert(offsetof(my_prompt, ConvToUtf) == 13320, "prompt record layout");
static_assert(offsetof(my_prompt, ConvWToUtf) == 13324, "prompt record layout");
static_assert(offsetof(my_prompt, LogonTimeout) == 13328, "prompt record layout");
static_assert(offsetof(my_prompt, ConnectionTimeout) == 13332, "prompt record layout");
static_assert(offsetof(my_prompt, RCVBUFFER) == 13336, "prompt record layout");
static_assert(offsetof(my_prompt, Encrypt) == 13340, "prompt record layout");
static_assert(offsetof(my_prompt, Compress) == 13344, "prompt record layout");
static_assert(offsetof(my_prompt, TrustServerCertificate) == 13348, "prompt record layout");
static_assert(offsetof(my_prompt, Text_Prepare) == 13352, "prompt record layout");
static_assert(offsetof(my_prompt, NoCache) == 13356, "prompt record layout");
static_assert(offsetof(my_prompt, ReqCharSet) == 13360, "prompt record layout");
static_assert(offsetof(my_prompt, AnsiMode) == 13364, "prompt record layout");
static_assert(offsetof(my_prompt, NTLMv2) == 13368, "prompt record layout");
static_assert(offsetof(my_prompt, SQLMode) == 13372, "prompt record layout");
static_assert(offsetof(my_prompt, WindowsUser) == 14396, "prompt record layout");
static_assert(offsetof(my_prompt, Kerberos) == 15420, "prompt record layout");
static_assert(offsetof(my_prompt, Principal) == 15424, "prompt record layout");
static_assert(offsetof(my_prompt, NullDatetimes) == 16448, "prompt record layout");

/* The setup library's file name; the driver looks for it in the directory of
 * the Setup value of its odbcinst.ini entry, then by the default search. */
#define QV_SETUP_LIBRARY "libqvmysqlS.so"

/* Exported by the setup library (C linkage, these names). The driver holds
 * the connection's entry_lock during the call; the record belongs to the
 * calling SQLDriverConnect.
 *   complete_info:  shows the prompt dialog with the connection's settings as
 *                   initial values; 0 when the user confirmed and the record
 *                   holds the answers, anything else (SQL_NO_DATA, 100, on
 *                   Cancel) when it holds none.
 *   complete_error: shows the text (at most 1023 bytes, NUL-terminated). */
extern "C" {
typedef int (*complete_info_fn)(my_connection *conn, void *window, my_prompt *record);
typedef void (*complete_error_fn)(my_connection *conn, const char *text, void *window);
}

/* Exported by the driver for the setup dialog's Test button: tries a logon
 * with the record's settings and writes what happened into message, a buffer
 * of DRIVER_TEST_MESSAGE_SIZE bytes that the caller owns (the text is cut to
 * fit and always terminated). 0 when the logon succeeded, else 1. */
enum { DRIVER_TEST_MESSAGE_SIZE = 1024 };
extern "C" {
typedef int (*driver_test_fn)(const my_prompt *record, char *message);
int driver_test(const my_prompt *record, char *message);
}

#endif
