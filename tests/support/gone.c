/* SPDX-License-Identifier: MIT */
/* Built beside the test libraries and never found at run time: the missing dependency. */
int selvane_gone(void)
{
    return 0;
}
