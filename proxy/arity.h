// Parameter and argument lists by count, for making stdcall functions of an
// exact arity from the export table. Every Drm argument is one 32-bit value.
#pragma once
#include <stdint.h>

typedef uint32_t DrmArg;

// Unnamed parameter types: DRM_TYPES_n
#define DRM_TYPES_1 DrmArg
#define DRM_TYPES_2 DRM_TYPES_1, DrmArg
#define DRM_TYPES_3 DRM_TYPES_2, DrmArg
#define DRM_TYPES_4 DRM_TYPES_3, DrmArg
#define DRM_TYPES_5 DRM_TYPES_4, DrmArg
#define DRM_TYPES_6 DRM_TYPES_5, DrmArg
#define DRM_TYPES_7 DRM_TYPES_6, DrmArg
#define DRM_TYPES_8 DRM_TYPES_7, DrmArg
#define DRM_TYPES_9 DRM_TYPES_8, DrmArg

// Named parameters a1..an: DRM_PARAMS_n
#define DRM_PARAMS_1 DrmArg a1
#define DRM_PARAMS_2 DRM_PARAMS_1, DrmArg a2
#define DRM_PARAMS_3 DRM_PARAMS_2, DrmArg a3
#define DRM_PARAMS_4 DRM_PARAMS_3, DrmArg a4
#define DRM_PARAMS_5 DRM_PARAMS_4, DrmArg a5
#define DRM_PARAMS_6 DRM_PARAMS_5, DrmArg a6
#define DRM_PARAMS_7 DRM_PARAMS_6, DrmArg a7
#define DRM_PARAMS_8 DRM_PARAMS_7, DrmArg a8
#define DRM_PARAMS_9 DRM_PARAMS_8, DrmArg a9

// Arguments 2..n after a given first value: DRM_REST_n(first)
#define DRM_REST_1(x) x
#define DRM_REST_2(x) DRM_REST_1(x), a2
#define DRM_REST_3(x) DRM_REST_2(x), a3
#define DRM_REST_4(x) DRM_REST_3(x), a4
#define DRM_REST_5(x) DRM_REST_4(x), a5
#define DRM_REST_6(x) DRM_REST_5(x), a6
#define DRM_REST_7(x) DRM_REST_6(x), a7
#define DRM_REST_8(x) DRM_REST_7(x), a8
#define DRM_REST_9(x) DRM_REST_8(x), a9
