/* SPDX-License-Identifier: MIT */
/* A library with only some of the driver's entry points (ibloc is missing), and a second
   one that needs a library which is not installed: the loader must tell them apart. */
#if defined(_WIN32) && !defined(_WIN64)
#define CALL __stdcall
#else
#define CALL
#endif

#if defined(NEEDS_MISSING)
extern int CALL selvane_gone(void);
int CALL ibconfig(int ud, int option, int value)
{
    return selvane_gone() + ud + option + value;
}
#else
static int cell;
int CALL ibconfig(int ud, int option, int value)
{
    return ud + option + value;
}
int CALL RegisterGpibGlobalsForThread(int *ibsta, int *iberr, int *ibcnt, int *ibcntl)
{
    (void)iberr;
    (void)ibcnt;
    (void)ibcntl;
    cell = *ibsta;
    return cell * 0;
}
#endif
