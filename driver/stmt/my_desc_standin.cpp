/*
 * STAND-IN, to be removed when the descriptor module lands (see
 * my_desc_standin.h). Weak, so the real definitions win when both are linked.
 */
#include <stdlib.h>
#include <string.h>

#include <sql.h>
#include <sqlext.h>

#include "stmt/my_desc_standin.h"

void field_reset(field *f);

__attribute__((weak)) void field_init(field *f)
{
    memset(f, 0, sizeof *f);
    f->parameter_type = SQL_PARAM_INPUT;
    f->unnamed = 1;
}

__attribute__((weak)) int desc_set_records(my_descriptor *d, int n)
{
    for (int i = 0; i < d->field_count; i++)
        field_reset(&d->records[i]);
    free(d->records);
    d->records = nullptr;
    d->field_count = 0;
    if (n <= 0)
        return n < 0 ? -1 : 0;
    field *r = (field *)malloc((size_t)n * sizeof *r);
    if (!r)
        return -1;
    for (int i = 0; i < n; i++)
        field_init(&r[i]);
    d->records = r;
    d->field_count = n;
    return 0;
}

__attribute__((weak)) int desc_column_count(const my_descriptor *d)
{
    if (d->described_valid && d->described_count < d->field_count)
        return d->described_count;
    return d->field_count;
}
