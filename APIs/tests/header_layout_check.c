/*
 * The public header compiled as C99: every record must have the same layout
 * as in C++. A failed check is a negative array size, so the build stops.
 */
#include <stddef.h>
#include <stdint.h>

#include "NettlebeamAPI.h"

#define LAYOUT_JOIN2(a, b) a##b
#define LAYOUT_JOIN(a, b) LAYOUT_JOIN2(a, b)
#define LAYOUT_CHECK(condition) \
    typedef char LAYOUT_JOIN(layout_check_line_, __LINE__)[(condition) ? 1 : -1]

#define EXPECT_RECORD_SIZE(type, size) LAYOUT_CHECK(sizeof(type) == (size));
#define EXPECT_FIELD_AT(type, field, offset) LAYOUT_CHECK(offsetof(type, field) == (offset));

#if UINTPTR_MAX > 0xFFFFFFFFu
#include "layout_expectations.inc"
#endif

/* The callback forms must be assignable from plain C functions. */
static void takes_payload(NettlebeamApiDeviceHandle handle, void* payload, void* userData) {
    (void)handle;
    (void)payload;
    (void)userData;
}

static void takes_no_payload(NettlebeamApiDeviceHandle handle, void* userData) {
    (void)handle;
    (void)userData;
}

int nettlebeam_header_c_callbacks_assignable(void);
int nettlebeam_header_c_callbacks_assignable(void) {
    NettlebeamApiCallback withPayload = takes_payload;
    NettlebeamApiSimpleCallback withoutPayload = takes_no_payload;
    return withPayload != 0 && withoutPayload != 0;
}
