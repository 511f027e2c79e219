/* A small library that exports its functions by ordinal, the way the
   conversion library does: ordinal n returns n. */

typedef void (*Proc)(void);

static int ordinal1(void) {
    return 1;
}
static int ordinal2(void) {
    return 2;
}
static int ordinal3(void) {
    return 3;
}
static int ordinal4(void) {
    return 4;
}
static int ordinal5(void) {
    return 5;
}
static int ordinal6(void) {
    return 6;
}
static int ordinal7(void) {
    return 7;
}
static int ordinal8(void) {
    return 8;
}
static int ordinal9(void) {
    return 9;
}
static int ordinal10(void) {
    return 10;
}
static int ordinal11(void) {
    return 11;
}
static int ordinal12(void) {
    return 12;
}

__attribute__((visibility("default"))) const Proc rendovaExports[12] = {
    (Proc)ordinal1, (Proc)ordinal2, (Proc)ordinal3, (Proc)ordinal4,  (Proc)ordinal5,  (Proc)ordinal6,
    (Proc)ordinal7, (Proc)ordinal8, (Proc)ordinal9, (Proc)ordinal10, (Proc)ordinal11, (Proc)ordinal12,
};
