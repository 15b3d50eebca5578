/* minizip's reader, built from its own source with one question more: where the current
   entry's local header lies. minizip reads that offset from the central header (its zip64
   extra field included) but keeps it to itself; asking it, rather than reading the central
   header a second time, keeps one reading of the header. */
#include "unzip.c"

/* UNZ_OK and the offset from where the archive begins (as the central header states it);
   UNZ_PARAMERROR for a null file, UNZ_END_OF_LIST_OF_FILE when no entry is current. */
int unzGetLocalHeaderOffset64(unzFile file, ZPOS64_T* offset) {
    unz64_s* s = (unz64_s*)file;
    if (s == NULL || offset == NULL) return UNZ_PARAMERROR;
    if (!s->current_file_ok) return UNZ_END_OF_LIST_OF_FILE;
    *offset = s->cur_file_info_internal.offset_curfile;
    return UNZ_OK;
}
