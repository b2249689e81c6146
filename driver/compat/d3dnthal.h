/* Nothing of Direct3D is used by the mirror driver. */
#ifndef QUARN_COMPAT_D3DNTHAL_H
#define QUARN_COMPAT_D3DNTHAL_H
#endif
