/*
 * STAND-IN, to be removed when the descriptor module (stmt/my_desc.h) lands:
 * the three record-list operations the internal result set needs, declared
 * as that module declares them. The weak definitions in my_desc_standin.cpp
 * give way to the real ones as soon as those are linked in.
 */
#ifndef QV_MY_DESC_STANDIN_H
#define QV_MY_DESC_STANDIN_H

#include "my_handles.h"

/* A fresh record: parameter_type SQL_PARAM_INPUT, unnamed 1, the rest 0/null. */
void field_init(field *f);
/* Replaces every record by n fresh ones; 0, or -1 when memory runs out (the
 * descriptor is then left with no records). */
int desc_set_records(my_descriptor *d, int n);
/* field_count, or the smaller of it and described_count while that is valid. */
int desc_column_count(const my_descriptor *d);

#endif
