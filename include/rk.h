/* Public interface of the real-time database kernel (librk.so).
 *
 * Clients are 32-bit x86 Linux programs built with -m32 and linked with
 * -lrk. Every function is plain C; results are int unless noted: 0 (or a
 * count or id) on success, -1 on failure with the reason kept as an error
 * number for rk_errno, or a negated error number for calls made before the
 * caller has a client id. */
#ifndef RK_H
#define RK_H

#include <stdint.h>

#if defined(RK_BUILDING_KERNEL)
#define RK_API __attribute__((visibility("default")))
#else
#define RK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Client id: application index in the high byte, slot 0..30 in the low. */
typedef uint16_t rk_client_id;

/* Tag reference: the tag's type, then its index within the type. */
typedef struct rk_tag_ref {
  uint16_t type;
  uint16_t index;
} rk_tag_ref;

#ifdef __cplusplus
}
#endif

#endif /* RK_H */
