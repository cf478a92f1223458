/* SPDX-License-Identifier: MIT */
/* Built beside the test libraries and never found at run time: the missing dependency. */
#if defined(_WIN32) && !defined(_WIN64)
#define CALL __stdcall
#else
#define CALL
#endif

int CALL selvane_gone(void)
{
    return 0;
}
