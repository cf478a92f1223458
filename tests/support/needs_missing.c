/* SPDX-License-Identifier: MIT */
/* A driver library that needs one which is not installed: the loader must tell it from a
   missing file. Built SELF_CONTAINED, it is the DLL of the other architecture. */
#if defined(SELF_CONTAINED)
static int selvane_gone(void)
{
    return 0;
}
#else
extern int selvane_gone(void);
#endif
int ibconfig(int ud, int option, int value)
{
    return selvane_gone() + ud + option + value;
}
