/*
 * Descriptor records: list operations, type mapping and consistency rules.
 */
#include "frame/my_handle.h"

#include <stdlib.h>
#include <string.h>

void field_reset(field *f)
{
    f->data_ptr = f->indicator_ptr = f->octet_length_ptr = nullptr;
    my_string **texts[] = {&f->literal_prefix, &f->literal_suffix, &f->type_name,
                           &f->local_type_name, &f->catalog_name, &f->schema_name,
                           &f->table_name, &f->base_table_name, &f->name,
                           &f->base_column_name};
    for (my_string **p : texts) {
        ms_free(*p);
        *p = nullptr;
    }
    free(f->storage.buffer);
    f->storage.buffer = nullptr;
    f->storage.capacity = 0;
    f->storage.alloc_length = 0;
    f->storage.data_type = 0;
    if (f->dae_chunks) {
        for (dae_chunk &c : *f->dae_chunks)
            free(c.data);
        delete f->dae_chunks;
        f->dae_chunks = nullptr;
    }
}
