/* A library without an export table. */

__attribute__((visibility("default"))) int noExportTable(void) {
    return 0;
}
