/*
 * The table through which the handle code (frame/my_handles.cpp,
 * frame/SQLFreeHandle.cpp) sets up and frees what the layers above it keep
 * on a handle.
 */
#include "frame/my_handle.h"

#include "desc/my_desc.h"
#include "protocol/my_conn.h"
#include "protocol/my_ssl.h"
#include "protocol/my_winkrb.h"
#include "results/my_internalrs.h"
#include "stmt/my_stmt.h"

const handle_hooks frame_hooks = {
    tls_prepare,
    tls_release,
    tls_stop,
    krb_free_context,
    field_reset,
    release_data_list,
    internal_rs_free,
    my_close_stmt,
};
